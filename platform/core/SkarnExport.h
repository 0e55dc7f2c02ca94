#ifndef SKARN_EXPORT_H
#define SKARN_EXPORT_H

// The library is built with hidden visibility; SKARN_EXPORT marks what a host
// may call or catch across the library boundary.
#define SKARN_EXPORT __attribute__((visibility("default")))
#define SKARN_HIDDEN __attribute__((visibility("hidden")))

#endif
