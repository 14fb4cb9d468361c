// One JSON object on one line, built field by field: what --json prints for automation.
#pragma once

#include <cstdint>
#include <string>

namespace fwburn::console {

class JsonLine {
  public:
    JsonLine& Add(const char* key, const std::string& value);
    JsonLine& Add(const char* key, const char* value);
    JsonLine& Add(const char* key, int64_t value);
    JsonLine& Add(const char* key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonLine& Add(const char* key, uint32_t value) { return Add(key, int64_t{value}); }
    // Written with one decimal; a negative value (unknown) is written as null.
    JsonLine& AddFixed(const char* key, double value);
    JsonLine& Add(const char* key, bool value);
    JsonLine& AddNull(const char* key);
    // `json` as it is: an array or object built elsewhere.
    JsonLine& AddRaw(const char* key, const std::string& json);

    // The object with its closing brace and a newline.
    std::string Text() const { return body_ + "}\n"; }

  private:
    void Key(const char* key);
    std::string body_ = "{";
};

// `text` as a JSON string, quotes included. Control characters are escaped, valid UTF-8 passes
// through, and each byte that is not part of valid UTF-8 becomes U+FFFD: a path may be any bytes.
std::string JsonString(const std::string& text);

}  // namespace fwburn::console
