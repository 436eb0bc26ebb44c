// Export marker of the public interface of libkvd.so. The library is built
// with hidden visibility by default; what a host may call carries KVD_EXPORT
// (and is listed in cmake/libkvd.map, which keeps everything else local).
#ifndef KVD_EXPORT_H
#define KVD_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define KVD_EXPORT __attribute__((visibility("default")))
#else
#define KVD_EXPORT
#endif

#endif  // KVD_EXPORT_H
