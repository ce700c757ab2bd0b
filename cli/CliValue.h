// Tag values as the command line shows and takes them: type names, text
// and JSON forms, and a value parsed from TAG=VALUE.
#ifndef QX_CLI_CLIVALUE_H
#define QX_CLI_CLIVALUE_H

#include <nlohmann/json.hpp>
#include <string>

#include "XVariant.h"

// "I4", "R8", "STR", ...; "EMPTY" for a value not read.
const char* TypeName(VARTYPE vt);
// The value as text, for people.
std::string ValueText(const XVariant& v);
// The value as JSON: a number, a boolean, a string; null for none.
nlohmann::json ValueJson(const XVariant& v);

// Parses text as a value of type ("int", "float", "bool", "text"; empty:
// inferred: true/false, an integer, a number, else text). False with a
// message in err when it does not parse as the type asked for.
bool ParseValue(const std::string& text, const std::string& type, XVariant& v, std::string& err);

#endif  // QX_CLI_CLIVALUE_H
