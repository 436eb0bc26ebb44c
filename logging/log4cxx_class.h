// Glue for classes of our own that log4cxx's configurator creates by name.
// log4cxx's IMPLEMENT_LOG4CXX_OBJECT only works for classes in the global
// namespace, so ours spell out the same three members here.
#ifndef KVD_LOGGING_LOG4CXX_CLASS_H
#define KVD_LOGGING_LOG4CXX_CLASS_H

#include <log4cxx/helpers/class.h>
#include <log4cxx/helpers/classregistration.h>
#include <log4cxx/helpers/object.h>

namespace kvd::logging {

// log4cxx's DECLARE_ macros name "helpers::" unqualified.
namespace helpers = log4cxx::helpers;

}  // namespace kvd::logging

#define KVD_IMPLEMENT_LOG4CXX_CLASS(object)                                         \
  const log4cxx::helpers::Class& object::getClass() const { return getStaticClass(); } \
  const log4cxx::helpers::Class& object::getStaticClass() {                        \
    static Clazz##object theClass;                                                 \
    return theClass;                                                               \
  }                                                                                \
  const log4cxx::helpers::ClassRegistration& object::registerClass() {             \
    static const log4cxx::helpers::ClassRegistration registration(                 \
        object::getStaticClass);                                                   \
    return registration;                                                           \
  }

#endif  // KVD_LOGGING_LOG4CXX_CLASS_H
