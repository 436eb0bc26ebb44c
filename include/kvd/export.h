// Marks what libkvd.so exports; everything else is hidden.
#ifndef KVD_EXPORT_H
#define KVD_EXPORT_H

#define KVD_EXPORT __attribute__((visibility("default")))

#endif  // KVD_EXPORT_H
