// Keeps arbitrary bytes on one text line: a backslash, a line feed and a
// carriage return become \\, \n and \r; every other byte, NUL included,
// stays as it is. Free functions without state, for any thread.
#ifndef CLOUDDB_TOOLS_AGENTS_LINEESCAPE_H_
#define CLOUDDB_TOOLS_AGENTS_LINEESCAPE_H_

#include <string>

namespace mover {

std::string escapeLine(const std::string& bytes);
// False for a text that escapeLine cannot have made.
bool unescapeLine(const std::string& text, std::string& bytes);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_LINEESCAPE_H_
