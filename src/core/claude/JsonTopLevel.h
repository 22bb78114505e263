#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads chosen top-level members of a large JSON document without building the document:
// one streaming pass that validates the whole text exactly as strictly as the full parser
// (nlohmann::json) does and keeps only the raw text of the wanted members' values. Memory stays
// bounded by the buffer, the nesting depth and the wanted values.
namespace JsonTopLevel {

struct Result {
    bool isObject = false;
    // Wanted member name → its value's JSON text exactly as it stands in the document (the last
    // one where a name repeats). Members names are compared after unescaping.
    std::map<std::string, std::string, std::less<>> members;
};

// None when the text is not valid JSON.
std::optional<Result> scan(std::string_view text, const std::vector<std::string>& wanted);

// None when the file cannot be read or is not valid JSON.
std::optional<Result> scanFile(const std::filesystem::path& path, const std::vector<std::string>& wanted);

} // namespace JsonTopLevel
