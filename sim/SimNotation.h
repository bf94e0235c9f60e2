// Reading of cluster request bodies: the form layer and the relaxed object notation.
//
// The plug-in writes its requests as "request=" followed by an object in a relaxed notation
// (bare member names and words, single-quoted strings without escapes). The cluster decodes
// the body like any form first, so '+' and percent sequences are decoded even though the
// plug-in never encodes them. Both readers are pure functions and safe on any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace korvansim {

// Decodes one form component: "+" becomes a blank, "%XX" the byte XX. A "%" that is not
// followed by two hexadecimal digits is kept as it is.
std::string formDecode(const std::string& text);

// Every byte but letters, digits, '-', '.', '_' and '~' as "%XX": what formDecode reads back,
// and safe in a URL path segment too.
std::string percentEncode(const std::string& text);

// The decoded value of the first field named `name` of a form body; false when it has none.
bool formField(const std::string& body, const std::string& name, std::string& value);

// Parses one value of the notation into JSON. Bare words become strings unless they read as a
// number, true, false or null. Returns false with a one-line reason in `message` when the text
// is not exactly one value (surrounding blanks allowed).
bool parseNotation(const std::string& text, nlohmann::json& value, std::string& message);

}  // namespace korvansim
