// An agent as a user writes it against the installed headers: one buffered
// output and the factory that hands its drivers to the host.
#include <agent/OrbEnvironment.h>
#include <remotefile/CloudDBRemoteFileFactory.h>
#include <util/CloudDBUtil.h>

#include <iostream>
#include <memory>
#include <string>

class Greeting : public OrbBufferedOutput {
 public:
  explicit Greeting(OrbEnvironment& env) : OrbBufferedOutput("greeting", env) {}
  bool initializeBackup() override { return true; }
  bool startBackup(bool) override {
    updateRestart("");
    return putString("hello from an installed clouddb\n");
  }
};

int main() {
  OrbPrototypeEnvironment env("");
  CloudDBRemoteFileFactory factory(std::make_shared<Greeting>(env), 1 << 20);
  std::shared_ptr<MXBaseRemoteFile> driver = factory.createObject(CloudConnectionDetails(), "", 0);
  char buffer[256];
  long long bytesRead = 0;
  if (!driver->OpenCloudFile("f") || !driver->ReadFile(buffer, sizeof buffer, bytesRead)) return 1;
  std::vector<std::string> keys = {"pk"};
  std::cout << std::string(buffer, bytesRead) << keyString(R"({"pk":{"S":"ok"}})", keys) << "\n";
  return 0;
}
