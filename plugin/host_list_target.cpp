#include "plugin/host_list_target.h"

#include "platform/exceptions.h"

namespace {

void RunMethod(void* data) {
    (*static_cast<const std::function<void()>*>(data))();
}

}  // namespace

void THostListTarget::RunSynchronized(const std::function<void()>& method) {
    if (control_->synchronize == nullptr) throw Exception("the host cannot take status lines");
    control_->synchronize(control_->host, &RunMethod,
                          const_cast<void*>(static_cast<const void*>(&method)));
}

int THostListTarget::CheckSynchronize(int timeoutMs) {
    if (control_->checkSynchronize == nullptr) return -1;
    return control_->checkSynchronize(control_->host, timeoutMs);
}

void THostListTarget::InsertLine(const AnsiString& line) {
    if (control_->insertLine == nullptr) throw Exception("the host has no list to insert into");
    control_->insertLine(control_->host, line.data(), line.size());
}
