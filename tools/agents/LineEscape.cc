#include "tools/agents/LineEscape.h"

namespace mover {

std::string escapeLine(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 16 + 2);
  for (const char c : bytes) {
    switch (c) {
      case '\\':
        text += "\\\\";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\r':
        text += "\\r";
        break;
      default:
        text += c;
    }
  }
  return text;
}

bool unescapeLine(const std::string& text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        bytes += '\\';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 'r':
        bytes += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace mover
