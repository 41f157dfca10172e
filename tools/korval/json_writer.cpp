#include "tools/korval/json_writer.h"

#include <cstdio>

namespace korval::tools {

std::string JsonWriter::quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void JsonWriter::separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) {
            out_ << ',';
        }
        first_.back() = false;
    }
}

void JsonWriter::beginObject()
{
    separate();
    out_ << '{';
    first_.push_back(true);
}

void JsonWriter::endObject()
{
    first_.pop_back();
    out_ << '}';
}

void JsonWriter::beginArray()
{
    separate();
    out_ << '[';
    first_.push_back(true);
}

void JsonWriter::endArray()
{
    first_.pop_back();
    out_ << ']';
}

void JsonWriter::key(std::string_view name)
{
    separate();
    out_ << quoted(name) << ':';
    afterKey_ = true;
}

void JsonWriter::field(std::string_view name, std::string_view text)
{
    key(name);
    value(text);
}

void JsonWriter::field(std::string_view name, long number)
{
    key(name);
    value(number);
}

void JsonWriter::field(std::string_view name, double number)
{
    key(name);
    separate();
    char text[32];
    std::snprintf(text, sizeof(text), "%.6g", number);
    out_ << text;
}

void JsonWriter::field(std::string_view name, bool flag)
{
    key(name);
    separate();
    out_ << (flag ? "true" : "false");
}

void JsonWriter::value(std::string_view text)
{
    separate();
    out_ << quoted(text);
}

void JsonWriter::value(long number)
{
    separate();
    out_ << number;
}

} // namespace korval::tools
