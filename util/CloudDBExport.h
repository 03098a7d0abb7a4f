// Marks the classes and functions that the plug-in exports. Everything else
// in the plug-in is built with hidden visibility.
#ifndef CLOUDDB_UTIL_CLOUDDBEXPORT_H_
#define CLOUDDB_UTIL_CLOUDDBEXPORT_H_

#define CLOUDDB_EXPORT __attribute__((visibility("default")))
// Keeps a member of an exported class out of the plug-in's interface.
#define CLOUDDB_LOCAL __attribute__((visibility("hidden")))

#endif  // CLOUDDB_UTIL_CLOUDDBEXPORT_H_
