// Writing JSON: the records, the tool's outputs and any other JSON text are
// built here, string bodies escaped so that any bytes give a text strict
// readers accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quillwave {

// What becomes of a byte that is part of no valid UTF-8 sequence: kReplace
// writes \ufffd for each ill-formed piece, so the output is always valid
// UTF-8; kKeep leaves the bytes as they are for the caller to show.
enum class InvalidUtf8 { kReplace, kKeep };

// The body of a JSON string literal (no surrounding quotes).
std::string EscapeJsonString(std::string_view utf8, InvalidUtf8 invalid = InvalidUtf8::kReplace);

// Builds one JSON text into a single string, in the order of the calls. The
// calls with a key write a member of the object opened last, those without
// one a value: the whole text, or an element of the array opened last.
// Commas come by themselves; keys are escaped like values. Nothing checks
// that opens and ends pair up, and nothing is allocated but the text: the
// records are written on the launcher's direct path.
class JsonWriter {
 public:
  explicit JsonWriter(InvalidUtf8 invalid = InvalidUtf8::kReplace) : invalid_(invalid) {}

  JsonWriter& BeginObject();
  JsonWriter& BeginObject(std::string_view key);
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& BeginArray(std::string_view key);
  JsonWriter& EndArray();

  JsonWriter& String(std::string_view value);
  JsonWriter& String(std::string_view key, std::string_view value);
  JsonWriter& Integer(std::int64_t value);
  JsonWriter& Integer(std::string_view key, std::int64_t value);
  JsonWriter& Boolean(bool value);
  JsonWriter& Boolean(std::string_view key, bool value);
  // `json` is a whole JSON value (a number as written, null, …), taken as it is.
  JsonWriter& Raw(std::string_view json);
  JsonWriter& Raw(std::string_view key, std::string_view json);

  void Reserve(std::size_t bytes) { text_.reserve(bytes); }
  const std::string& text() const { return text_; }
  std::string Take() { return std::move(text_); }

 private:
  void Separate();
  void Key(std::string_view key);
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);

  std::string text_;
  InvalidUtf8 invalid_;
};

}  // namespace quillwave
