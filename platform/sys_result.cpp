#include "platform/sys_result.hpp"

namespace kestrelis {

std::string error_text(const SysResult& result) {
  return result.failed_at == SysStep::resolve ? "cannot resolve the host"
                                              : error_text(result.error);
}

}  // namespace kestrelis
