// The simple layout: an event's message text unchanged, optionally preceded
// by "[MM/DD/YY HH:MM:SS.mmm]:". No level, no separator and no line end are
// added; the facade's messages bring their own "\n".
//
// Known to LogClt.cfg and the switches as "SimpleLayout"; registered with
// log4cxx as "KvdSimpleLayout" because log4cxx has a class of that name.
// Option "WithTimeStamp" (boolean, false by default).
#ifndef KVD_LOGGING_SIMPLE_LAYOUT_H
#define KVD_LOGGING_SIMPLE_LAYOUT_H

#include "logging/log4cxx_class.h"

#include <log4cxx/layout.h>

#include <atomic>

namespace kvd::logging {

class KvdSimpleLayout : public log4cxx::Layout {
 public:
  DECLARE_LOG4CXX_OBJECT(KvdSimpleLayout)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(KvdSimpleLayout)
  LOG4CXX_CAST_ENTRY_CHAIN(log4cxx::Layout)
  END_LOG4CXX_CAST_MAP()

  KvdSimpleLayout() = default;

  void format(log4cxx::LogString& output, const log4cxx::spi::LoggingEventPtr& event,
              log4cxx::helpers::Pool& pool) const override;
  bool ignoresThrowable() const override { return true; }
  void activateOptions(log4cxx::helpers::Pool& pool) override {}
  void setOption(const log4cxx::LogString& option, const log4cxx::LogString& value) override;

  void SetWithTimeStamp(bool on) { withTimeStamp_ = on; }

 private:
  // Switched by KES_EnableTimeStamp while other threads format.
  std::atomic<bool> withTimeStamp_{false};
};

}  // namespace kvd::logging

#endif  // KVD_LOGGING_SIMPLE_LAYOUT_H
