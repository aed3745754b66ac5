// Readers that pull single values out of JSON text without building a tree.
// Each finds the leftmost match of a fixed pattern built around the key:
//   string  "KEY"\s*:\s*"((?:\\.|[^"\\])*)"
//   scalar  "KEY"\s*:\s*(?:"([^"]*)"|([^\s,}\]]+))
//   has     "KEY"\s*:
//   object  "KEY"\s*:\s*\{([^}]*)\}   members "([a-zA-Z_][a-zA-Z_0-9]*)"\s*:\s*(true|false)
// (ECMAScript semantics), implemented as linear scanners so that long values
// cannot exhaust the stack.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillwave {

using BoolMap = std::map<std::string, bool>;

std::string ReadStringField(std::string_view text, std::string_view key);
std::string ReadScalarField(std::string_view text, std::string_view key);
bool HasField(std::string_view text, std::string_view key);

// The same matches with where they stand, for tools that tell a person
// which occurrence of a key the launcher reads. `key_at` indexes the key's
// opening quote; npos when nothing matches.
struct KeyedValue {
  std::size_t key_at = std::string_view::npos;
  std::string value;
};
KeyedValue FindStringField(std::string_view text, std::string_view key);
KeyedValue FindScalarField(std::string_view text, std::string_view key);
std::size_t FindField(std::string_view text, std::string_view key);
// How many matches of "KEY"\s*: the text holds, and where the first two
// stand (npos when there are fewer).
struct FieldCount {
  std::size_t count = 0;
  std::size_t first = std::string_view::npos;
  std::size_t second = std::string_view::npos;
};
FieldCount CountFields(std::string_view text, std::string_view key);
// Which of the keys the text holds at all as "KEY" (whatever follows), in
// one pass over its quotes: a reader need not scan a text for a key it
// does not hold. Keys must not be empty.
std::vector<bool> KeysWritten(std::string_view text, std::span<const std::string_view> keys);

struct KeyedObject {
  std::size_t key_at = std::string_view::npos;
  std::size_t open = std::string_view::npos;  // the value's '{'
};
KeyedObject FindObjectField(std::string_view text, std::string_view key);
BoolMap ReadBoolObject(std::string_view text, std::string_view key);

// Index of the '{' that ends the leftmost match of "KEY"\s*:\s*\{, or npos.
std::size_t FindObjectValue(std::string_view text, std::string_view key);

std::string JsonUnescape(std::string_view raw);
bool IsTruthyValue(std::string_view raw);

// Balanced-block scan: `open` indexes a '{' or '['. Returns the index of the
// matching closing bracket, or npos when the block is unbalanced.
std::size_t FindBlockEnd(std::string_view text, std::size_t open);

// `open` indexes a '"'. Returns the index of the quote that closes the string,
// honouring backslash escapes, or npos when it is never closed.
std::size_t FindStringEnd(std::string_view text, std::size_t open);

using MemberVisitor = std::function<void(std::string_view key, std::string_view raw_value)>;

// Calls the visitor for each member of the first object in the text, in order.
void ForEachMember(std::string_view text, const MemberVisitor& visitor);

}  // namespace quillwave
