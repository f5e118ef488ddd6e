// What every part of kvrec builds on: a growable array, text, numbers as
// text, and the error a routine hands back. kvrec takes nothing from the C++
// library but the C functions under it: its strings, containers, streams and
// exceptions would weigh ten times the program itself.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// Grows a block of items to hold at least `need` of them, doubling; ends
// kvrec with a message when memory runs out (nothing sensible is left to do).
void* GrowItems(void* block, size_t& capacity, size_t need, size_t itemSize);
void FreeItems(void* block);

// An array of plain values, copied as bytes, that grows as needed.
template <class T>
class List {
 public:
  List() = default;
  List(const T* items, size_t n) { append(items, n); }
  List(const List& other) { append(other.data_, other.size_); }
  List(List&& other) { Take(other); }
  ~List() { FreeItems(data_); }
  List& operator=(const List& other) {
    if (this != &other) {
      size_ = 0;
      append(other.data_, other.size_);
    }
    return *this;
  }
  List& operator=(List&& other) {
    if (this != &other) {
      FreeItems(data_);
      Take(other);
    }
    return *this;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }

  void reserve(size_t n) {
    if (n > capacity_) data_ = (T*)GrowItems(data_, capacity_, n, sizeof(T));
  }
  void push_back(const T& item) {
    T copy = item;  // the item may live in the block that moves
    reserve(size_ + 1);
    data_[size_++] = copy;
  }
  void append(const T* items, size_t n) {
    if (!n) return;
    reserve(size_ + n);
    memcpy((void*)(data_ + size_), items, n * sizeof(T));
    size_ += n;
  }
  // New items are zero.
  void resize(size_t n) {
    if (n > size_) memset((void*)extend(n - size_), 0, (n - size_) * sizeof(T));
    size_ = n;
  }
  // n more items, not set: where they start.
  T* extend(size_t n) {
    reserve(size_ + n);
    size_ += n;
    return data_ + size_ - n;
  }
  void truncate(size_t n) { size_ = n < size_ ? n : size_; }
  void clear() { size_ = 0; }
  bool operator==(const List& other) const {
    return size_ == other.size_ && (!size_ || !memcmp(data_, other.data_, size_ * sizeof(T)));
  }
  bool operator!=(const List& other) const { return !(*this == other); }

 private:
  void Take(List& other) {
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  T* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
};

// Text to show or write: bytes with a zero kept behind them.
class Text {
 public:
  Text() = default;
  Text(const char* s) { Add(s, strlen(s)); }
  Text(const char* s, size_t n) { Add(s, n); }
  Text(const Text& other) { Add(other.c_str(), other.size()); }
  Text(Text&& other) : chars_(static_cast<List<char>&&>(other.chars_)) {}
  Text& operator=(const Text& other) {
    if (this != &other) {
      chars_.clear();
      Add(other.c_str(), other.size());
    }
    return *this;
  }
  Text& operator=(Text&& other) {
    chars_ = static_cast<List<char>&&>(other.chars_);
    return *this;
  }

  const char* c_str() const { return chars_.empty() ? "" : chars_.data(); }
  const char* data() const { return c_str(); }
  size_t size() const { return chars_.empty() ? 0 : chars_.size() - 1; }
  bool empty() const { return size() == 0; }
  char operator[](size_t i) const { return chars_[i]; }

  void Reserve(size_t n) { chars_.reserve(n + 1); }
  Text& Add(const char* s, size_t n) {
    memcpy(Room(n), s, n);
    return *this;
  }
  Text& Add(char c) {
    *Room(1) = c;
    return *this;
  }
  Text& AddDecimal(uint64_t v);
  Text& AddSigned(int64_t v);
  Text& AddHex(uint32_t v);  // 0x1f
  Text& operator+=(const Text& t) { return Add(t.c_str(), t.size()); }
  Text& operator+=(const char* s) { return Add(s, strlen(s)); }
  Text& operator+=(char c) { return Add(c); }
  bool operator==(const Text& other) const { return chars_ == other.chars_; }
  bool operator==(const char* s) const { return !strcmp(c_str(), s); }
  // Where `part` first appears, or -1.
  long Find(const char* part) const;

 private:
  // Room for n more characters, with the zero moved behind them.
  char* Room(size_t n) {
    chars_.truncate(size());
    char* room = chars_.extend(n + 1);
    room[n] = 0;
    return room;
  }
  List<char> chars_;  // the characters and a zero, or nothing at all
};

inline Text operator+(Text a, const Text& b) { return static_cast<Text&&>(a += b); }
inline Text operator+(Text a, const char* b) { return static_cast<Text&&>(a += b); }

// Numbers as text: 1234, -5, 0x1f.
Text Decimal(uint64_t v);
Text Signed(int64_t v);
Text Hex(uint32_t v);
// "1 event", "3 events".
Text Plural(uint64_t n, const char* one, const char* many);
// A name as kvrec shows it: control characters as \n, \r, \t or \xNN, so a
// name never starts a line of its own in a text or a message.
Text Shown(const char* name);

// An error a routine hands back: the message names the place (file, or
// file:line:column) and what was expected there; status 1 for bad input, 2
// for bad usage.
struct Failure {
  int status = 0;
  Text text;
};
// Sets the failure and gives false, so that "return Fail(f, ...)" ends a routine.
bool Fail(Failure& f, Text text, int status = 1);
