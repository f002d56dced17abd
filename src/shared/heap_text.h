// A text on the heap, freed when it goes; moves, never copies.
#pragma once

#include <stdlib.h>

class HeapText {
 public:
  HeapText() {}
  explicit HeapText(char* text) : text_(text) {}
  HeapText(HeapText&& other) : text_(other.text_) { other.text_ = nullptr; }
  HeapText& operator=(HeapText&& other) {
    if (this != &other) {
      free(text_);
      text_ = other.text_;
      other.text_ = nullptr;
    }
    return *this;
  }
  HeapText(const HeapText&) = delete;
  HeapText& operator=(const HeapText&) = delete;
  ~HeapText() { free(text_); }

  char* Get() const { return text_; }
  explicit operator bool() const { return text_ != nullptr; }

 private:
  char* text_ = nullptr;
};
