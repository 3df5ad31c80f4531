#include "engine/byte_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/simd.h"
#include "core/utf8.h"
#include "engine/parallel.h"

namespace {

using slot_detail::kPower;
using slot_detail::kWeight;
#if defined(__SSE2__)
using slot_detail::kKeep;
using slot_detail::kKeepFirst;
using slot_detail::SumOfLanes;
using slot_detail::Weighed;
#endif

// With kCheck each character outside ASCII is checked first, and well_formed is cleared at the
// first that is not well-formed (the slot is then of no use). `before`: how many readable bytes
// stand just before b, which lets the last few bytes be read as one block.
// With kYo the slot is that of the text with ё as е and Ё as Е: characters outside ASCII are
// decoded one by one anyway, and the ASCII blocks pay nothing for it.
template <bool kCheck, bool kYo>
uint32_t SlotOfUtf8(const unsigned char* b, size_t n, size_t before, bool& well_formed) {
  uint32_t sum = 0;  // mod 2^32, a multiple of 512
  size_t i = 0;
  size_t unit = 0;  // units so far
  while (i < n) {
#if defined(__SSE2__)
    __m128i blocks = _mm_setzero_si128();
    for (;;) {
      const size_t left = n - i;
      __m128i v;
      size_t step;
      if (left >= 16) {
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        step = 16;
      } else if (left > 0 && i + before >= 16 - left) {
        // The 16 bytes ending with the text's last, those already weighed masked off.
        v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 16)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeep + left)));
        step = left;
      } else {
        break;
      }
      // Lane k of a tail block is unit (unit + left - 16 + k): the same weight row as unit + left.
      const size_t row = step == 16 ? unit : unit + left;
      if (const int wide = _mm_movemask_epi8(v); wide != 0) {
        // The ASCII bytes before the first that is not, weighed here too: lane `first` on waits.
        const auto first = static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(wide)));
        const __m128i keep =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepFirst + 16 - first));
        blocks = _mm_add_epi32(blocks, Weighed(_mm_and_si128(v, keep), row));
        const size_t ascii = first - (16 - step);
        i += ascii;
        unit += ascii;
        break;
      }
      blocks = _mm_add_epi32(blocks, Weighed(v, row));
      i += step;
      unit += step;
    }
    sum += SumOfLanes(blocks);
    if (i >= n) break;
#endif
    // Up to the first character outside ASCII, then it and those outside ASCII right after it:
    // a word of Cyrillic is weighed here whole, not a block tried at every letter.
    for (; i < n && b[i] < 0x80; ++i, ++unit) sum += b[i] * uint32_t{kWeight[unit & 7]};
    while (i < n && b[i] >= 0x80) {
      uint32_t cp;
      if (b[i] >= 0xC2 && b[i] < 0xE0 && i + 1 < n && (b[i + 1] & 0xC0) == 0x80) {
        // Two bytes, well-formed as they stand: Cyrillic, and most letters beyond ASCII.
        cp = (uint32_t{b[i]} & 0x1F) << 6 | (b[i + 1] & 0x3F);
        i += 2;
      } else {
        if (kCheck && WellFormedLength(b + i, n - i) == 0) {
          well_formed = false;
          return 0;
        }
        i += DecodeUtf8At(b + i, cp);
      }
      if (kYo) cp = cp == u'ё' ? u'е' : cp == u'Ё' ? u'Е' : cp;
      if (cp < 0x10000) {
        sum += cp * kWeight[unit++ & 7];
      } else {
        cp -= 0x10000;
        sum += (0xD800 + (cp >> 10)) * kWeight[unit++ & 7];
        sum += (0xDC00 + (cp & 0x3FF)) * kWeight[unit++ & 7];
      }
    }
  }
  return sum * kPower[(unit - 1) & 7] % 512;
}

#if defined(__SSE2__)
// The slot of an item of at most 48 bytes of ASCII and two-byte characters (Cyrillic), read as
// ShortAsciiSlot reads an ASCII one: three blocks that end with it. False for any other item,
// malformed ones included, which the loop above then takes.
//
// The byte at offset q of the item stands in unit j = q - P(q), P(q) the continuation bytes up to
// it and with it: a lead and its continuation weigh alike, the lead's bits 6 places up. As
// 63^-1 = -(1 + 64) and 64^2 = 0 (mod 512), unit j weighs (-1)^j * (1 + 64 j): no table. Only
// the sum mod 512 counts, so 16-bit lanes that wrap hold it.
bool TwoByteSlot(const unsigned char* b, size_t n, size_t before, uint32_t& slot) {
  if (n > 48 || before + n < 48) return false;
  __m128i blocks[3];
  slot_detail::BlocksEndingWith(b, n, blocks);
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  // Lane k of each block is byte n - 16 + k of the item less a multiple of 16: n + k mod 8.
  const auto m = static_cast<short>(n);
  const __m128i q_low = _mm_setr_epi16(m, m + 1, m + 2, m + 3, m + 4, m + 5, m + 6, m + 7);
  const __m128i q_high = _mm_add_epi16(q_low, _mm_set1_epi16(8));
  __m128i sum = zero;
  int continuations = 0;     // in the blocks before
  bool lead_before = false;  // the block before ends with a lead
  // Blocks before the item hold nothing of it: the loop starts at the first that does.
  for (size_t k = n > 32 ? 0 : n > 16 ? 1 : 2; k < 3; ++k) {
    const __m128i v = blocks[k];
    const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(-64)), _mm_set1_epi8(-128));
    const __m128i from_c2 = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2)));
    const __m128i lead = _mm_cmpeq_epi8(_mm_min_epu8(from_c2, _mm_set1_epi8(0x1D)), from_c2);
    const __m128i ascii = _mm_cmpgt_epi8(v, _mm_set1_epi8(-1));
    // Each byte ASCII, a lead of two bytes or a continuation, and each continuation after a lead.
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ascii, lead), cont)) != 0xFFFF) return false;
    const __m128i after_lead =
        _mm_or_si128(_mm_slli_si128(lead, 1), _mm_cvtsi32_si128(lead_before ? 0xFF : 0));
    if (_mm_movemask_epi8(_mm_xor_si128(cont, after_lead)) != 0) return false;
    lead_before = (_mm_movemask_epi8(lead) & 0x8000) != 0;
    // P(q) in each lane: the continuations so far, the lane's own counted.
    __m128i p = _mm_and_si128(cont, _mm_set1_epi8(1));
    p = _mm_add_epi8(p, _mm_slli_si128(p, 1));
    p = _mm_add_epi8(p, _mm_slli_si128(p, 2));
    p = _mm_add_epi8(p, _mm_slli_si128(p, 4));
    p = _mm_add_epi8(p, _mm_slli_si128(p, 8));
    p = _mm_add_epi8(p, _mm_set1_epi8(static_cast<char>(continuations)));
    continuations = _mm_extract_epi16(p, 7) >> 8;  // the last lane's count
    // The bits each byte gives its unit: all of ASCII, five of a lead, six of a continuation.
    const __m128i bits =
        _mm_or_si128(ascii, _mm_or_si128(_mm_and_si128(lead, _mm_set1_epi8(0x1F)),
                                         _mm_and_si128(cont, _mm_set1_epi8(0x3F))));
    const __m128i value = _mm_and_si128(v, bits);
    const auto weigh = [&](__m128i value16, __m128i p16, __m128i lead16, __m128i q16) {
      const __m128i j = _mm_sub_epi16(q16, p16);
      const __m128i odd = _mm_sub_epi16(zero, _mm_and_si128(j, one));  // all ones when odd
      __m128i w = _mm_add_epi16(one, _mm_slli_epi16(j, 6));
      w = _mm_sub_epi16(_mm_xor_si128(w, odd), odd);
      // A lead's bits stand 6 places up.
      value16 = _mm_or_si128(_mm_andnot_si128(lead16, value16),
                             _mm_and_si128(lead16, _mm_slli_epi16(value16, 6)));
      sum = _mm_add_epi16(sum, _mm_mullo_epi16(value16, w));
    };
    weigh(_mm_unpacklo_epi8(value, zero), _mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(lead, lead),
          q_low);
    weigh(_mm_unpackhi_epi8(value, zero), _mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(lead, lead),
          q_high);
  }
  if (lead_before) return false;  // the item ends with a lead
  const size_t units = n - static_cast<size_t>(continuations);
  slot = SumOfLanes(_mm_madd_epi16(sum, one)) * kPower[(units - 1) & 7] % 512;
  return true;
}
#endif

}  // namespace

uint32_t Utf8Slot(const unsigned char* b, size_t n) {
  bool unused = true;
  return SlotOfUtf8<false, false>(b, n, 0, unused);
}

uint32_t slot_detail::Utf8SlotOfAny(const unsigned char* b, size_t n, size_t before) {
#if defined(__SSE2__)
  uint32_t slot;
  if (TwoByteSlot(b, n, before, slot)) return slot;
#endif
  bool unused = true;
  return SlotOfUtf8<false, false>(b, n, before, unused);
}

uint32_t slot_detail::CheckedUtf8SlotOfAny(const unsigned char* b, size_t n, size_t before,
                                           bool& well_formed) {
#if defined(__SSE2__)
  uint32_t slot;
  if (TwoByteSlot(b, n, before, slot)) return slot;
#endif
  return SlotOfUtf8<true, false>(b, n, before, well_formed);
}

uint32_t YoFoldedUtf8Slot(const unsigned char* b, size_t n) {
  bool unused = true;
  return SlotOfUtf8<false, true>(b, n, 0, unused);
}

uint32_t slot_detail::CheckedYoFoldedUtf8SlotOfAny(const unsigned char* b, size_t n, size_t before,
                                                   bool& well_formed) {
  return SlotOfUtf8<true, true>(b, n, before, well_formed);
}

namespace {

// Whether the folding maps no unit into or out of the surrogates and none to zero: then a
// character folds as one, and its bytes can be folded as they stand. No locale in use does
// otherwise.
bool FoldingKeepsSurrogates() {
  static const bool keeps = [] {
    for (uint32_t u = 0; u < 0x10000; ++u) {
      const bool surrogate = u >= 0xD800 && u <= 0xDFFF;
      const char16_t lower = LowerUnit(static_cast<char16_t>(u));
      if (surrogate ? lower != u : (lower >= 0xD800 && lower <= 0xDFFF)) return false;
      if (u != 0 && lower == 0) return false;
    }
    return true;
  }();
  return keeps;
}

// LowerUnit, then ё as е and Ё as Е: the fold of -i with ё folding. It keeps the surrogates and
// zero as LowerUnit does.
const char16_t* LowerYoTable() {
  static const std::vector<char16_t> table = [] {
    const char16_t* lower = LowerUnitTable();
    std::vector<char16_t> folded(lower, lower + 0x10000);
    for (char16_t& unit : folded) {
      if (unit == u'ё') unit = u'е';
      if (unit == u'Ё') unit = u'Е';
    }
    return folded;
  }();
  return table.data();
}

// The folding of any other locale: a character above U+FFFF folds as its two units, and halves
// that meet after folding are one character again, as in the text the bytes stand for.
size_t FoldUnitByUnit(const unsigned char* b, size_t n, unsigned char* out, const char16_t* lower) {
  Text units;
  for (size_t i = 0; i < n;) {
    uint32_t cp = b[i];
    const size_t len = cp < 0x80 ? 1 : DecodeUtf8At(b + i, cp);
    if (cp < 0x10000) {
      units.push_back(lower[cp]);
    } else {
      cp -= 0x10000;
      units.push_back(lower[0xD800 + (cp >> 10)]);
      units.push_back(lower[0xDC00 + (cp & 0x3FF)]);
    }
    i += len;
  }
  const std::string folded = Utf8FromText(units, LoneHighSurrogate::ThreeBytes);
  std::memcpy(out, folded.data(), folded.size());
  return folded.size();
}

}  // namespace

size_t FoldUtf8(const unsigned char* b, size_t n, unsigned char* out, bool fold_yo) {
  const char16_t* lower = fold_yo ? LowerYoTable() : LowerUnitTable();
  if (!FoldingKeepsSurrogates()) return FoldUnitByUnit(b, n, out, lower);
  unsigned char* at = out;
  size_t i = 0;
  while (i < n) {
    if (b[i] < 0x80) {
      const char16_t unit = lower[b[i++]];
      if (unit < 0x80)
        *at++ = static_cast<unsigned char>(unit);
      else
        at = PutUtf8(unit, at);
      continue;
    }
    uint32_t cp;
    const size_t len = DecodeUtf8At(b + i, cp);
    if (cp < 0x10000) {
      at = PutUtf8(lower[cp], at);
    } else {
      std::memcpy(at, b + i, 4);  // surrogates fold to themselves
      at += 4;
    }
    i += len;
  }
  return static_cast<size_t>(at - out);
}

ByteChunks::ByteChunks(const SourceBytes& source, const SourceFormat& format,
                       const ByteSeparator& separator, size_t chunk_bytes, uint64_t length,
                       LenientUtf8 lenient)
    : source_(source),
      separator_(separator),
      start_(format.mark_length),
      offset_(format.mark_length),
      length_(length),
      chunk_bytes_(std::max<size_t>(chunk_bytes, 1)),
      format_(format) {
  const bool as_is =
      format.encoding == SourceEncoding::Utf8 ||
      (format.encoding == SourceEncoding::Utf8Lenient && lenient == LenientUtf8::AsItStands);
  // A small source gets a buffer its size: one of a whole chunk, advised for huge pages, would
  // have its first page made a huge one, and the heap keeps it resident after the run.
  // So does a converted one, whose buffer has room for the UTF-8 of all the bytes held at once.
  raw_capacity_ = std::max<size_t>(chunk_bytes_ / 4, 16);
  if (const uint64_t size = source.expected_size(); size > 0) {
    const uint64_t rest = size > start_ ? size - start_ : 0;
    size_hint_ = static_cast<size_t>(as_is ? rest + 1 : Utf8Transcoder::MaxOutput(rest) + 64);
    raw_capacity_ =
        static_cast<size_t>(std::min<uint64_t>(raw_capacity_, std::max<uint64_t>(rest + 1, 16)));
  }
  if (!as_is) {
    transcoder_ = std::make_unique<Utf8Transcoder>(format);
    raw_.reset(new unsigned char[raw_capacity_]);
    return;
  }
  const std::string* held = source.memory();
  if (held == nullptr) return;
  // In memory: handed out in place, up to the zero that ends the text.
  in_memory_ = true;
  std::string_view bytes(*held);
  bytes.remove_prefix(std::min<size_t>(bytes.size(), start_));
  if (length_ != kWhole) bytes = bytes.substr(0, static_cast<size_t>(length_));
  const void* zero = std::memchr(bytes.data(), 0, bytes.size());
  if (zero != nullptr) {
    bytes = bytes.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - bytes.data()));
    ended_at_zero_ = true;
  }
  memory_ = bytes;
  offset_ = start_ + bytes.size();
}

size_t ByteChunks::NextCapacity(size_t needed) const {
  return std::max(needed, std::min(std::max(chunk_bytes_, capacity_ * 2), size_hint_));
}

void ByteChunks::Grow(size_t capacity) {
  ScratchBytes bigger(capacity);
  if (end_ > 0) std::memcpy(bigger.get(), buffer_.get(), end_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

namespace {

// Where the first zero of the `got` bytes read at into + at stands, from `into`; SIZE_MAX when
// there is none (or nothing was read).
size_t ZeroAfter(const char* into, size_t at, ssize_t got) {
  if (got <= 0) return SIZE_MAX;
  const void* found = std::memchr(into + at, 0, static_cast<size_t>(got));
  return found == nullptr ? SIZE_MAX : static_cast<size_t>(static_cast<const char*>(found) - into);
}

}  // namespace

bool ByteChunks::ReadSource(char* into, size_t n, size_t& got, size_t* zero) {
  got = 0;
  const uint64_t left = length_ == kWhole ? kWhole : length_ - (offset_ - start_);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, left));
  if (want == 0) {
    source_done_ = true;
    return true;
  }
  ssize_t read = -1;
  // The copy out of the page cache is most of a read: pieces of at least 1 MB at once. A piece
  // counts only when all before it came whole; otherwise the next read takes it again.
  const int parts =
      static_cast<int>(std::clamp<size_t>(want >> 20, 1, static_cast<size_t>(threads_)));
  if (parts > 1) {
    const size_t step = want / static_cast<size_t>(parts);
    std::vector<ssize_t> got(static_cast<size_t>(parts), -1);
    // Each piece is searched for a zero by the thread that read it, while it is in its cache.
    std::vector<size_t> zeros(static_cast<size_t>(parts), SIZE_MAX);
    OnCores(parts, [&](int part) {
      const auto k = static_cast<size_t>(part);
      const size_t at = step * k;
      const size_t n = part + 1 == parts ? want - at : step;
      got[k] = source_.Read(offset_ + at, into + at, n);
      if (zero != nullptr) zeros[k] = ZeroAfter(into, at, got[k]);
    });
    read = got[0];
    size_t first_zero = zeros[0];
    for (int part = 1; part < parts && read == static_cast<ssize_t>(step * part); ++part) {
      if (got[static_cast<size_t>(part)] > 0) read += got[static_cast<size_t>(part)];
      first_zero = std::min(first_zero, zeros[static_cast<size_t>(part)]);
    }
    if (zero != nullptr) *zero = first_zero;
  } else {
    read = source_.Read(offset_, into, want);
    if (zero != nullptr) *zero = ZeroAfter(into, 0, read);
  }
  if (read < 0) {
    failed_ = true;
    return false;
  }
  if (read == 0) {
    if (length_ != kWhole) {  // shorter than it was
      failed_ = true;
      return false;
    }
    source_done_ = true;
    return true;
  }
  got = static_cast<size_t>(read);
  offset_ += got;
  return true;
}

bool ByteChunks::Fill() {
  // Moves the carried bytes to the front, then reads until the buffer is full or the text ends.
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (transcoder_ != nullptr) return FillConverted();
  if (end_ == capacity_) Grow(NextCapacity(end_ + 1));
  while (end_ < capacity_ && !at_end_) {
    size_t got = 0;
    size_t zero = SIZE_MAX;  // where the first zero read is, from end_
    if (!ReadSource(buffer_.get() + end_, capacity_ - end_, got, &zero)) return false;
    if (source_done_) {
      at_end_ = true;
      break;
    }
    if (zero < got) {
      const size_t at = end_ + zero;
      offset_ -= got - zero;  // only the bytes before the zero count as read
      end_ = at;
      at_end_ = ended_at_zero_ = true;
      break;
    }
    end_ += got;
  }
  return true;
}

bool ByteChunks::FillConverted() {
  // Each step converts all the source bytes held; the buffer must have room for their UTF-8.
  const size_t step_room = Utf8Transcoder::MaxOutput(raw_capacity_);
  if (capacity_ - end_ < step_room) Grow(NextCapacity(end_ + step_room));
  while (!at_end_ && capacity_ - end_ >= Utf8Transcoder::MaxOutput(raw_capacity_)) {
    while (raw_held_ < raw_capacity_ && !source_done_) {
      size_t got = 0;
      if (!ReadSource(reinterpret_cast<char*>(raw_.get()) + raw_held_, raw_capacity_ - raw_held_,
                      got))
        return false;
      raw_held_ += got;
    }
    size_t written = 0;
    const size_t used = ConvertHeld(written);
    end_ += written;
    std::memmove(raw_.get(), raw_.get() + used, raw_held_ - used);
    raw_held_ -= used;
    if (transcoder_->ended_at_zero()) {
      // The bytes after what the conversion took were read for nothing.
      offset_ -= raw_held_;
      raw_held_ = 0;
      ended_at_zero_ = true;
      at_end_ = true;
    } else if (source_done_ && raw_held_ == 0) {
      at_end_ = true;
    } else if (used == 0 && raw_held_ == raw_capacity_) {
      // A line not yet ended fills the bytes held: hold more.
      std::unique_ptr<unsigned char[]> more(new unsigned char[raw_capacity_ * 2]);
      std::memcpy(more.get(), raw_.get(), raw_held_);
      raw_ = std::move(more);
      raw_capacity_ *= 2;
      if (capacity_ - end_ < Utf8Transcoder::MaxOutput(raw_capacity_))
        Grow(end_ + Utf8Transcoder::MaxOutput(raw_capacity_));
    }
  }
  return true;
}

size_t ByteChunks::ConvertHeld(size_t& written) {
  unsigned char* out = reinterpret_cast<unsigned char*>(buffer_.get()) + end_;
  const unsigned char* in = raw_.get();
  const int parts =
      transcoder_->ConvertsUnitByUnit()
          ? static_cast<int>(std::clamp<size_t>(raw_held_ >> 20, 1, static_cast<size_t>(threads_)))
          : 1;
  if (parts == 1) return transcoder_->Convert(in, raw_held_, source_done_, out, &written);
  // Parts of whole units, none ending in a high surrogate, so that each converts as the whole
  // would. Each writes at 3 bytes for every 2 before it, more than the UTF-8 of those can take.
  const size_t unit = UnitSize(format_.encoding);
  const int high_byte = format_.encoding == SourceEncoding::Utf16LE ? 1 : 0;
  std::vector<size_t> cuts(static_cast<size_t>(parts) + 1, raw_held_);
  cuts[0] = 0;
  for (size_t k = 1; k < static_cast<size_t>(parts); ++k) {
    size_t cut = std::max(cuts[k - 1], raw_held_ / static_cast<size_t>(parts) * k / 4 * 4);
    while (unit == 2 && cut >= 2 && cut < raw_held_ && (in[cut - 2 + high_byte] & 0xFC) == 0xD8)
      cut += 2;
    cuts[k] = cut;
  }
  std::vector<std::unique_ptr<Utf8Transcoder>> others;
  for (int k = 1; k < parts; ++k) others.push_back(std::make_unique<Utf8Transcoder>(format_));
  std::vector<size_t> used(static_cast<size_t>(parts)), wrote(static_cast<size_t>(parts));
  OnCores(parts, [&](int part) {
    const auto k = static_cast<size_t>(part);
    Utf8Transcoder& transcoder = k == 0 ? *transcoder_ : *others[k - 1];
    const bool final = k + 1 < cuts.size() - 1 || source_done_;
    used[k] = transcoder.Convert(in + cuts[k], cuts[k + 1] - cuts[k], final, out + cuts[k] / 2 * 3,
                                 &wrote[k]);
  });
  // The parts joined, up to the one that reached the zero that ends the text.
  written = wrote[0];
  size_t taken = used[0];
  for (size_t k = 1; k < others.size() + 1 && !transcoder_->ended_at_zero(); ++k) {
    std::memmove(out + written, out + cuts[k] / 2 * 3, wrote[k]);
    written += wrote[k];
    taken = cuts[k] + used[k];
    transcoder_->TakeNotices(*others[k - 1]);
  }
  return taken;
}

bool ByteChunks::Next(std::string_view& run, bool& last) {
  if (done_ || failed_) return false;
  if (in_memory_) {
    // In memory: runs of about chunk_bytes_, each cut just after a separator.
    if (memory_.size() <= chunk_bytes_) {
      run = memory_;
      last = done_ = true;
      return true;
    }
    size_t cut = EndOfLastSeparator(memory_.data(), chunk_bytes_, separator_);
    if (cut == 0) cut = EndOfLastSeparator(memory_.data(), memory_.size(), separator_);
    if (cut == 0) {
      run = memory_;
      last = done_ = true;
      return true;
    }
    run = memory_.substr(0, cut);
    memory_.remove_prefix(cut);
    last = false;
    return true;
  }
  for (;;) {
    if (!Fill()) return false;
    const char* data = buffer_.get();
    if (at_end_) {
      run = std::string_view(data + begin_, end_ - begin_);
      last = done_ = true;
      begin_ = end_;
      return true;
    }
    // The search starts where the carried bytes may end a separator: a whole separator can
    // straddle the cut.
    const size_t cut = EndOfLastSeparator(data, end_, separator_);
    if (cut > 0) {
      run = std::string_view(data, cut);
      begin_ = cut;
      last = false;
      return true;
    }
    // One item longer than the buffer: read on into a bigger one.
  }
}
