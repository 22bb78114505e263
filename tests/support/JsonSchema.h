#pragma once

// A small JSON Schema validator for the keywords our documents' schemas use: type (one or a
// list), const, enum, required, properties, additionalProperties (false), items, minimum,
// maximum, and the formats date-time (ours: UTC, no fraction) and uuid. Anything else in a
// schema fails loudly, so a schema cannot promise what is not checked.
#include "base/DateTime.h"
#include "base/Uuid.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace testsupport {

inline void validateSchema(const nlohmann::json& schema, const nlohmann::json& value, const std::string& at,
                           std::vector<std::string>& errors) {
    using nlohmann::json;
    static const std::vector<std::string> known = {
        "$schema", "$id",     "title",    "description", "type",
        "const",   "enum",    "required", "properties",  "additionalProperties",
        "items",   "minimum", "maximum",  "format"};
    for (const auto& [key, _] : schema.items())
        if (std::find(known.begin(), known.end(), key) == known.end())
            errors.push_back(at + ": the schema uses '" + key + "', which this validator does not check");
    const auto typeName = [](const json& v) -> std::string {
        if (v.is_null())
            return "null";
        if (v.is_boolean())
            return "boolean";
        if (v.is_number_integer() || v.is_number_unsigned())
            return "integer";
        if (v.is_number())
            return "number";
        if (v.is_string())
            return "string";
        if (v.is_array())
            return "array";
        return "object";
    };
    if (schema.contains("type")) {
        const json types = schema["type"].is_array() ? schema["type"] : json::array({schema["type"]});
        const std::string actual = typeName(value);
        bool ok = false;
        for (const json& t : types)
            ok = ok || t == actual || (t == "number" && actual == "integer");
        if (!ok) {
            errors.push_back(at + ": " + actual + " where the schema allows " + types.dump());
            return;
        }
    }
    if (schema.contains("const") && schema["const"] != value)
        errors.push_back(at + ": " + value.dump() + " is not " + schema["const"].dump());
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
        errors.push_back(at + ": " + value.dump() + " is not one of " + schema["enum"].dump());
    if (value.is_number()) {
        if (schema.contains("minimum") && value.get<double>() < schema["minimum"].get<double>())
            errors.push_back(at + ": below its minimum");
        if (schema.contains("maximum") && value.get<double>() > schema["maximum"].get<double>())
            errors.push_back(at + ": above its maximum");
    }
    if (value.is_string() && schema.contains("format")) {
        const std::string text = value.get<std::string>();
        if (schema["format"] == "date-time" &&
            (!DateTime::parseIso8601(text, false) || text.size() != 20 || text.back() != 'Z'))
            errors.push_back(at + ": '" + text + "' is not a UTC date-time");
        else if (schema["format"] == "uuid" && !Uuid::parse(text))
            errors.push_back(at + ": '" + text + "' is not a UUID");
    }
    if (value.is_object()) {
        for (const json& name : schema.value("required", json::array()))
            if (!value.contains(name.get<std::string>()))
                errors.push_back(at + ": '" + name.get<std::string>() + "' is missing");
        const json properties = schema.value("properties", json::object());
        for (const auto& [name, member] : value.items()) {
            if (properties.contains(name))
                validateSchema(properties[name], member, at + "." + name, errors);
            else if (schema.value("additionalProperties", true) == false)
                errors.push_back(at + ": '" + name + "' is not in the schema");
        }
    }
    if (value.is_array() && schema.contains("items"))
        for (std::size_t i = 0; i < value.size(); ++i)
            validateSchema(schema["items"], value[i], at + "[" + std::to_string(i) + "]", errors);
}

// Every way `value` breaks `schema`; empty when it follows it.
inline std::vector<std::string> schemaErrors(const nlohmann::json& schema, const nlohmann::json& value) {
    std::vector<std::string> errors;
    validateSchema(schema, value, "$", errors);
    return errors;
}

} // namespace testsupport
