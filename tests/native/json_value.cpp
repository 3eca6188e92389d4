#include "json_value.h"

#include <cctype>
#include <cstdlib>

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  bool Document(JsonValue* value) {
    if (!Value(value, 0)) return false;
    Blanks();
    return at_ == text_.size();
  }

 private:
  void Blanks() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(const char* word) {
    const std::string w = word;
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out->push_back(escape);
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'u': {  // only the control characters mkpatch escapes
          if (at_ + 4 > text_.size()) return false;
          const long code = std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16);
          if (code >= 0x80) return false;
          out->push_back(static_cast<char>(code));
          at_ += 4;
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Value(JsonValue* value, int depth) {
    if (depth > 32) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value->type_ = JsonValue::Type::String;
      return String(&value->string_);
    }
    if (Word("null")) return true;
    if (Word("true")) {
      value->type_ = JsonValue::Type::Bool;
      value->boolean_ = true;
      return true;
    }
    if (Word("false")) {
      value->type_ = JsonValue::Type::Bool;
      return true;
    }
    const size_t start = at_;
    if (text_[at_] == '-') ++at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
    if (at_ == start || (at_ == start + 1 && text_[start] == '-')) return false;
    value->type_ = JsonValue::Type::Number;
    value->number_ = std::strtoll(text_.substr(start, at_ - start).c_str(), nullptr, 10);
    return true;
  }

  bool Array(JsonValue* value, int depth) {
    value->type_ = JsonValue::Type::Array;
    Take('[');
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(&item, depth + 1)) return false;
      value->items_.push_back(item);
    } while (Take(','));
    return Take(']');
  }

  bool Object(JsonValue* value, int depth) {
    value->type_ = JsonValue::Type::Object;
    Take('{');
    if (Take('}')) return true;
    do {
      std::string key;
      JsonValue member;
      if (!String(&key) || !Take(':') || !Value(&member, depth + 1)) return false;
      if (!value->members_.emplace(key, member).second) return false;  // duplicate key
      value->keys_.push_back(key);
    } while (Take(','));
    return Take('}');
  }

  const std::string& text_;
  size_t at_ = 0;
};

bool JsonValue::Parse(const std::string& text, JsonValue* value) {
  JsonValue parsed;
  if (!JsonParser(text).Document(&parsed)) return false;
  *value = parsed;
  return true;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
  static const JsonValue kNull;
  auto found = members_.find(key);
  return found == members_.end() ? kNull : found->second;
}
