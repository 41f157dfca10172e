// A small streaming JSON writer for --json: objects, arrays, strings and numbers.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace korval::tools {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name); // inside an object, before a nested value
    void field(std::string_view name, std::string_view text);
    void field(std::string_view name, const char* text) { field(name, std::string_view(text)); }
    void field(std::string_view name, long number);
    void field(std::string_view name, double number);
    void field(std::string_view name, bool flag);
    void value(std::string_view text);
    void value(long number);

    static std::string quoted(std::string_view text);

private:
    void separate();

    std::ostream& out_;
    std::vector<bool> first_; // per open object or array: nothing written in it yet
    bool afterKey_ = false;
};

} // namespace korval::tools
