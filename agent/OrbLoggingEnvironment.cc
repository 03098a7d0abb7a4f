#include "agent/OrbLoggingEnvironment.h"

OrbLoggingEnvironment::OrbLoggingEnvironment(const std::string& directory)
    : OrbPrototypeEnvironmentDropOutputData(directory), debugLog(nullptr) {}

OrbLoggingEnvironment::~OrbLoggingEnvironment() = default;

void OrbLoggingEnvironment::log(const char* function, const std::string& message) {
  debugLog.Debug(function, "%s", message.c_str());
}

std::shared_ptr<OrbOutput> OrbLoggingEnvironment::createMetadataOutput() {
  return std::make_shared<OrbMetadataOutput>(*this, true);
}

std::shared_ptr<OrbOutput> OrbLoggingEnvironment::createDescriptionOutput() {
  return std::make_shared<OrbMetadataOutput>(*this, false);
}

std::shared_ptr<OrbInput> OrbLoggingEnvironment::createMetadataInput() {
  if (metadataString.empty()) return OrbPrototypeEnvironment::createMetadataInput();
  return std::make_shared<OrbInputFromString>(*this, metadataString);
}

std::shared_ptr<OrbInput> OrbLoggingEnvironment::createDescriptionInput() {
  if (descriptionString.empty()) return OrbPrototypeEnvironment::createDescriptionInput();
  return std::make_shared<OrbInputFromString>(*this, descriptionString);
}

void OrbLoggingEnvironment::putDescriptionString(const std::string& text) {
  descriptionString = text;
}

void OrbLoggingEnvironment::putMetadataString(const std::string& text) { metadataString = text; }

void OrbLoggingEnvironment::resetMetadataStrings() {
  metadataString.clear();
  descriptionString.clear();
}

std::string OrbLoggingEnvironment::getDescriptionString() {
  return stripTrailingNewline(descriptionString);
}

std::string OrbLoggingEnvironment::getMetadataString() {
  return stripTrailingNewline(metadataString);
}

bool OrbLoggingEnvironment::hasEnding(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string OrbLoggingEnvironment::stripTrailingNewline(const std::string& text) {
  if (hasEnding(text, "\r\n")) return text.substr(0, text.size() - 2);
  if (hasEnding(text, "\n")) return text.substr(0, text.size() - 1);
  return text;
}

OrbMetadataOutput::OrbMetadataOutput(OrbLoggingEnvironment& owner, bool isMetadata)
    : OrbOutput(std::string(), owner), isMetadata(isMetadata), owner(owner) {}

OrbMetadataOutput::~OrbMetadataOutput() = default;

bool OrbMetadataOutput::putString(const std::string& text) {
  if (isMetadata) {
    owner.putMetadataString(text);
  } else {
    owner.putDescriptionString(text);
  }
  return true;
}

void OrbMetadataOutput::updateRestart(const std::string&) {}

bool OrbMetadataOutput::flush() { return true; }

bool OrbMetadataOutput::close(const std::string&) { return true; }
