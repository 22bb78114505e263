#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

// JSON parsing for text that comes from outside the program.
namespace Json {

// Deeper documents than this are refused: no file or answer we read nests anywhere near it,
// and refusing early keeps hostile input from costing unbounded memory and time (and keeps the
// recursive consumers of a document, such as dump(), within a small stack).
inline constexpr int kMaxDepth = 128;

// Parses a complete JSON text (strict: valid UTF-8, nothing but white space after the value).
// None when the text is not valid JSON or nests deeper than `maxDepth`.
std::optional<nlohmann::json> parse(std::string_view text, int maxDepth = kMaxDepth);
// Why a text is not JSON: the byte offset of the first character that cannot be read (the text's
// size when it ends too early); none when that is not known (it nests too deeply, or a number in
// it is out of range).
struct SyntaxError {
    std::optional<std::size_t> offset;
};
// parse(), saying in `error` where the text goes wrong when it is not JSON.
std::optional<nlohmann::json> parse(std::string_view text, SyntaxError& error, int maxDepth = kMaxDepth);
// The same, keeping the members of every object in their order in the text.
std::optional<nlohmann::ordered_json> parseOrdered(std::string_view text, int maxDepth = kMaxDepth);

// The text of a top-level member's value, found in one quick pass that does not validate the
// document: for a glance into a large file that its own writer keeps valid (claude's state file
// from the status-line command). Names are compared as written, escapes and all. None when the
// text does not start as an object or the member is not found before the text goes wrong; the last
// one where a name repeats. Parse the value before trusting it.
std::optional<std::string_view> quickMember(std::string_view text, std::string_view name);

// Whole numbers within ±2^53 as JSON integers, other finite numbers as doubles. Throws
// std::domain_error for NaN and infinities, which JSON cannot hold.
nlohmann::json number(double value);

} // namespace Json
