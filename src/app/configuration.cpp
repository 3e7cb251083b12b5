// STUB: to be written.
#include "app/configuration.h"

namespace p50x {
Configuration::Configuration() {}
bool Configuration::setConfigPath(const char*, Console&) { return false; }
bool Configuration::readFile(Console&) { return false; }
void Configuration::applyLine(char*) {}
}  // namespace p50x
