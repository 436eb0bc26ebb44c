#include "logging/simple_layout.h"

#include "logging/option_text.h"
#include "logging/time_stamp.h"

namespace kvd::logging {

KVD_IMPLEMENT_LOG4CXX_CLASS(KvdSimpleLayout)

void KvdSimpleLayout::format(log4cxx::LogString& output,
                             const log4cxx::spi::LoggingEventPtr& event,
                             log4cxx::helpers::Pool& pool) const {
  if (withTimeStamp_) {
    char stamp[kTimeStampLength + 1];
    FormatLocalTimeStamp(stamp);
    output.append("[");
    output.append(stamp);
    output.append("]:");
  }
  output.append(event->getRenderedMessage());
}

void KvdSimpleLayout::setOption(const log4cxx::LogString& option,
                                const log4cxx::LogString& value) {
  if (EqualsIgnoreCase(option, "WithTimeStamp")) {
    withTimeStamp_ = ParseBoolean(value, false);
  }
}

}  // namespace kvd::logging
