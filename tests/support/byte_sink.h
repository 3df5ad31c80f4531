// A result as the result file holds it after its mark: UTF-8, the final separator left out.
#pragma once

#include <string>
#include <string_view>

#include "core/utf8.h"
#include "engine/operations.h"

class ByteSink : public ResultSink {
 public:
  // Uncut, the sink keeps the final separator too, as every other.
  explicit ByteSink(bool cut_final_separator = true) : cut_(cut_final_separator) {}

  void AppendUtf8Block(std::string_view block, std::string_view final_separator) override {
    if (!cut_) {
      bytes_.append(block);
      return;
    }
    bytes_.append(pending_bytes_);
    bytes_.append(block.substr(0, block.size() - final_separator.size()));
    pending_bytes_.assign(final_separator);
  }

  // These two serve only the 16-bit engine, and go with it.
  void Append(TextView piece) override {
    encoder_.Encode(pending_, bytes_);
    pending_.clear();
    encoder_.Encode(piece, bytes_);
  }
  void EndRecord(TextView separator) override {
    encoder_.Encode(pending_, bytes_);
    pending_.clear();
    if (cut_)
      pending_.assign(separator);
    else
      encoder_.Encode(separator, bytes_);
  }

  // What the file would hold were the result to end now.
  std::string bytes() const {
    std::string out = bytes_;
    Utf8Encoder end = encoder_;
    end.Finish(out);
    return out;
  }

 private:
  bool cut_;
  std::string bytes_;
  std::string pending_bytes_;
  Text pending_;
  Utf8Encoder encoder_{LoneHighSurrogate::ThreeBytes};
};
