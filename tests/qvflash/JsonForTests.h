#pragma once
// A strict little JSON reader for the tests: what qvflash writes must parse.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct TJson {
  enum TKind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<TJson> items;
  std::map<std::string, TJson> fields;
  const TJson& operator[](const std::string& key) const { return fields.at(key); }
  const TJson& operator[](std::size_t i) const { return items.at(i); }
};

class TJsonReader {
public:
  // Throws std::runtime_error on anything that is not one well-formed document.
  static TJson Parse(std::string_view text) {
    TJsonReader reader(text);
    TJson value = reader.Value();
    reader.Space();
    if (reader.at_ != text.size()) reader.Fail("text after the document");
    return value;
  }

private:
  explicit TJsonReader(std::string_view text) : text_(text) {}
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_));
  }
  void Space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
      ++at_;
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  TJson Value() {
    Space();
    if (at_ >= text_.size()) Fail("end of text");
    TJson v;
    const char c = text_[at_];
    if (c == '{') {
      v.kind = TJson::Object;
      ++at_;
      if (Take('}')) return v;
      do {
        Space();
        const std::string key = StringBody();
        Expect(':');
        v.fields[key] = Value();
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      v.kind = TJson::Array;
      ++at_;
      if (Take(']')) return v;
      do v.items.push_back(Value());
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      v.kind = TJson::String;
      v.text = StringBody();
    } else if (text_.substr(at_, 4) == "null") {
      at_ += 4;
    } else if (text_.substr(at_, 4) == "true" || text_.substr(at_, 5) == "false") {
      v.kind = TJson::Bool;
      v.boolean = text_[at_] == 't';
      at_ += v.boolean ? 4 : 5;
    } else {
      v.kind = TJson::Number;
      const std::size_t start = at_;
      while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
      if (start == at_) Fail("unexpected character");
      v.number = std::stod(std::string(text_.substr(start, at_ - start)));
    }
    return v;
  }
  std::string StringBody() {
    if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a string");
    ++at_;
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("raw control byte in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated escape");
      const char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) Fail("short \\u escape");
          const unsigned code = static_cast<unsigned>(std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16));
          at_ += 4;
          if (code < 0x80) out += static_cast<char>(code);
          else if (code < 0x800) out += static_cast<char>(0xC0 | code >> 6), out += static_cast<char>(0x80 | (code & 0x3F));
          else out += static_cast<char>(0xE0 | code >> 12), out += static_cast<char>(0x80 | (code >> 6 & 0x3F)),
               out += static_cast<char>(0x80 | (code & 0x3F));
          break;
        }
        default: Fail("unknown escape");
      }
    }
  }
  std::string_view text_;
  std::size_t at_ = 0;
};
