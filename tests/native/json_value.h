// A small JSON reader for the tests of mkpatch's --json output: it must parse
// as JSON, not merely contain the right substrings. Numbers are integers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class JsonValue {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };

  // False, with `*value` untouched, unless `text` is one JSON value with
  // nothing but white space after it.
  static bool Parse(const std::string& text, JsonValue* value);

  Type type() const { return type_; }
  bool IsNull() const { return type_ == Type::Null; }
  bool AsBool() const { return boolean_; }
  int64_t AsInt() const { return number_; }
  const std::string& AsString() const { return string_; }
  const std::vector<JsonValue>& Items() const { return items_; }
  // A member of an object; a null value when there is none.
  const JsonValue& operator[](const std::string& key) const;
  bool Has(const std::string& key) const { return members_.count(key) != 0; }
  std::vector<std::string> Keys() const { return keys_; }  // in their order

 private:
  friend class JsonParser;
  Type type_ = Type::Null;
  bool boolean_ = false;
  int64_t number_ = 0;
  std::string string_;
  std::vector<JsonValue> items_;
  std::map<std::string, JsonValue> members_;
  std::vector<std::string> keys_;
};
