// The simplest concrete backup stream: its producer is one text, known in
// full before the backup starts. Handed to the driver, it makes the data
// mover read exactly that text as one cloud file.
//
// The object owns its text. close with a non-empty restart string keeps the
// backup going, and every later fill that reaches startBackup puts the whole
// text again. Threading and failures are those of OrbBufferedOutput.
#ifndef CLOUDDB_AGENT_BUFFEREDFROMSTRING_H_
#define CLOUDDB_AGENT_BUFFEREDFROMSTRING_H_

#include <string>

#include "agent/OrbBufferedOutput.h"

class CLOUDDB_EXPORT BufferedFromString : public OrbBufferedOutput {
 public:
  BufferedFromString(const std::string& name, OrbEnvironment& environment,
                     const std::string& content);
  ~BufferedFromString() override;

  bool flush() override;
  // Sets the restart string directly; the safe one is left alone.
  bool close(const std::string& restart) override;
  bool initializeBackup() override;
  // Puts the whole text.
  bool startBackup(bool firstCall) override;

 protected:
  std::string content;
};

#endif  // CLOUDDB_AGENT_BUFFEREDFROMSTRING_H_
