// A local AWS-API server for the demo: moto_server (S3, DynamoDB and
// DynamoDB Streams) started on a free port of 127.0.0.1 and stopped when
// the object goes. One thread; start() fails with one line when the server
// is missing or does not answer.
#ifndef CLOUDDB_TOOLS_MOVER_LOCALSERVER_H_
#define CLOUDDB_TOOLS_MOVER_LOCALSERVER_H_

#include <sys/types.h>

#include <string>

namespace mover {

class LocalServer {
 public:
  LocalServer() = default;
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  bool start(std::string& error);
  // http://127.0.0.1:PORT once started.
  const std::string& url() const { return url_; }

 private:
  pid_t pid_ = -1;
  std::string url_;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_LOCALSERVER_H_
