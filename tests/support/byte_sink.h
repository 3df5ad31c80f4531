// A result as the result file holds it after its mark, written by the window's own writer into
// memory: UTF-8, the final separator left out.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "core/text_file.h"
#include "engine/result_sink.h"
#include "engine/result_writer.h"

class ByteSink : public ResultSink {
 public:
  // Uncut, the sink keeps the final separator too, as every other.
  explicit ByteSink(bool cut_final_separator = true)
      : cut_(cut_final_separator),
        file_(WrapForWriting(open_memstream(&data_, &size_), true)),
        sink_(std::make_unique<Utf8FileSink>(*file_)) {}
  ~ByteSink() override {
    Finish();
    std::free(data_);
  }

  void AppendUtf8Block(std::string_view block, std::string_view final_separator) override {
    sink_->AppendUtf8Block(block, cut_ ? final_separator : std::string_view());
  }

  // What the file holds once the result has ended; the sink takes no more after this.
  const std::string& bytes() {
    Finish();
    return bytes_;
  }

 private:
  void Finish() {
    if (sink_ == nullptr) return;
    sink_.reset();
    CloseTextFile(std::move(file_));
    bytes_.assign(data_, size_);
  }

  bool cut_;
  char* data_ = nullptr;
  size_t size_ = 0;
  TextFilePtr file_;
  std::unique_ptr<Utf8FileSink> sink_;
  std::string bytes_;
};
