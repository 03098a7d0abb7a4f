// Names that come from stored data or the command line and become parts of
// requests or of local file names: checked before use, so that a restore
// writes nowhere but into its target. Only DynamoDB's own characters pass
// (letters, digits, "_", "-", "."), never a "/"; a name that would make a
// file name too long for the file system is shortened with a hash of the
// whole, so that every valid table name can be dumped and restored.
//
// Free functions; any thread.
#ifndef CLOUDDB_TOOLS_AGENTS_NAMES_H_
#define CLOUDDB_TOOLS_AGENTS_NAMES_H_

#include <cstddef>
#include <string>

namespace mover {

// The longest file name of the file systems a restore writes to.
constexpr size_t kMaxFileNameBytes = 255;

// A DynamoDB table name: 3 to 255 letters, digits, "_", "-" or ".".
bool isTableName(const std::string& name);
// A shard id or another name of 1 to 255 of the same characters.
bool isNameWord(const std::string& name);
// name as the stem of a file name to which suffixBytes are added: itself
// when the whole fits in kMaxFileNameBytes, else its start, "~" and 16 hex
// digits of its hash.
std::string fileStem(const std::string& name, size_t suffixBytes);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_NAMES_H_
