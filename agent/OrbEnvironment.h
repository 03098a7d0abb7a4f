// The one include for the agent framework: the stream and environment
// interfaces, every stream and environment of the library, and both ends of
// the backup and restore pipe. The in-memory logging environment has its own
// header, agent/OrbLoggingEnvironment.h.
#ifndef CLOUDDB_AGENT_ORBENVIRONMENT_H_
#define CLOUDDB_AGENT_ORBENVIRONMENT_H_

#include "agent/BufferedFromString.h"
#include "agent/OrbBufferedInput.h"
#include "agent/OrbBufferedOutput.h"
#include "agent/OrbFileStreams.h"
#include "agent/OrbInterfaces.h"
#include "agent/OrbPrototypeEnvironment.h"
#include "agent/OrbSimpleStreams.h"
#include "agent/TestBufferedInput.h"

#endif  // CLOUDDB_AGENT_ORBENVIRONMENT_H_
