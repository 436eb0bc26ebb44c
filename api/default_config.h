// The shipped configuration (config/kvd.cfg and config/kvd_offline.cfg) as
// text, for handles opened without a configuration file.
#ifndef KVD_API_DEFAULT_CONFIG_H
#define KVD_API_DEFAULT_CONFIG_H

// "key = value" lines of both files.
extern const char* const kDefaultConfigText;

#endif  // KVD_API_DEFAULT_CONFIG_H
