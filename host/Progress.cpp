// Progress reporting over the per-thread status callback; any answer but SUCCESS cancels.
#include "host/Host.h"
#include "host/HostInternal.h"

namespace {
thread_local FxStatusCallback tCallback = nullptr;
thread_local void* tUserData = nullptr;
}  // namespace

void HostExchangeCallback(FxStatusCallback newCallback, void* newUserData,
                          FxStatusCallback* oldCallback, void** oldUserData) {
  if (oldCallback) *oldCallback = tCallback;
  if (oldUserData) *oldUserData = tUserData;
  tCallback = newCallback;
  tUserData = newUserData;
}

bool host::StatusCallbackInstalled() { return tCallback != nullptr; }

int32_t HostReportStatus(int32_t percent) {
  return tCallback ? tCallback(percent, tUserData) : SUCCESS;
}

int32_t HostProgressBegin(HostProgressContext* context) {
  if (!context) return ERROR_HOST_BAD_ARGUMENT;
  context->started = 1;
  context->lastPercent = 0;
  return HostReportStatus(0);
}

int32_t HostProgressReport(HostProgressContext* context, int32_t percent) {
  if (!context) return ERROR_HOST_BAD_ARGUMENT;
  if (context->started && percent == context->lastPercent) return SUCCESS;
  context->started = 1;
  context->lastPercent = percent;
  return HostReportStatus(percent);
}
