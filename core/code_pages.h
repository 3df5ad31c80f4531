// The single-byte code pages that lists from office software come in: Russian Windows, the two
// older Russian code pages, and Western Windows. A list in one of them is read with every byte a
// character of its own, so two different lines never become one item.
#pragma once

#include <cstddef>
#include <cstdint>

enum class CodePage : uint8_t { Windows1251, Koi8R, Cp866, Windows1252, Latin1 };

// The characters of the bytes 80 to FF (the bytes below 80 are ASCII in all of them). A byte
// the code page leaves undefined stands for the character of the same value, as in Latin-1.
const char16_t* CodePageHighHalf(CodePage page);
// "Windows-1251", "KOI8-R", "CP866", "Windows-1252", "Latin-1".
const char* CodePageName(CodePage page);

// Judges which code page a text's bytes above 7F were written in, by how the letters they decode
// to look: Russian words by how likely each letter is to follow the one before, once folded to
// lower case (so lists in capitals, as accounting software writes them, are judged as well as
// mixed case), Western accented letters by their frequency, and letters of one script standing
// among letters of another as unlikely. Lines are
// added one at a time; Windows-1251 is the answer whenever nothing tells clearly.
class CodePageJudge {
 public:
  void AddLine(const unsigned char* bytes, size_t n);
  // Adds what another judge has seen, as though its lines had been added here.
  void Add(const CodePageJudge& other);
  CodePage Best() const;
  // Bytes above 7F seen so far.
  size_t high_bytes() const { return high_bytes_; }

 private:
  static constexpr int kCandidates = 4;  // Latin-1 is never guessed: Windows-1252 covers it
  double score_[kCandidates] = {};
  size_t high_bytes_ = 0;
};
