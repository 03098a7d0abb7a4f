// Small data utilities for the agent: path splitting and recursive folder
// creation, colon-delimited pairs, JSON compaction, and canonical key
// strings of DynamoDB items.
//
// All are free functions on byte strings; none logs, throws for bad input
// or keeps state, so any thread may call them. Only allocation failure
// propagates (as std::bad_alloc).
#ifndef CLOUDDB_UTIL_CLOUDDBUTIL_H_
#define CLOUDDB_UTIL_CLOUDDBUTIL_H_

#include <string>
#include <vector>

#include "util/CloudDBExport.h"

// Splits path at its last separator ("/" or "\", runs collapsed, a final one
// ignored) into folder and fileName. False, with both untouched, for a path
// shorter than 3 characters, without a separator, or whose only separator is
// the first character.
CLOUDDB_EXPORT bool parsePath(const std::string& path, std::string& folder, std::string& fileName);

// Creates path and its missing parents with mode. True when the folder exists
// afterwards (errorCode then 0, or EEXIST when the path already existed);
// false with the errno of the mkdir that failed.
CLOUDDB_EXPORT bool recursiveMkdir(const std::string& path, int mode, int& errorCode);

// joined = first + ":" + second, nothing escaped.
CLOUDDB_EXPORT void toColonDelim(const std::string& first, const std::string& second,
                                 std::string& joined);

// Splits joined at its last colon; without one, both parts are joined.
CLOUDDB_EXPORT void fromColonDelim(const std::string& joined, std::string& first,
                                   std::string& second);

// Removes every tab, line feed and carriage return, in place.
CLOUDDB_EXPORT void compactJson(std::string& json);

// The canonical text of an item's key: for each key name in sorted byte order
// (keyNames is sorted in place), the name, "::*::", the value text and
// "*/*/". The value text is the attribute's "N" member, else its "S", else
// its "B", taking the first of these that is a JSON string (so {"N":5,"S":"x"}
// gives x); it is empty when none is, when the attribute is missing or is not
// an object, and throughout when the JSON does not parse. Any input is safe:
// texts with more than 32 opening brackets are parsed iteratively, so nesting
// costs heap rather than stack; texts above 128 MiB, and numbers whose
// negative exponent would overflow the parser's int arithmetic (values near
// 2^31; leading zeros do not count), are treated as JSON that does not parse.
CLOUDDB_EXPORT std::string keyString(const std::string& itemJson,
                                     std::vector<std::string>& keyNames);

#endif  // CLOUDDB_UTIL_CLOUDDBUTIL_H_
