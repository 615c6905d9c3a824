// PLACEHOLDER until the platform hold lands: holds nothing.
#include "keep_awake.h"

namespace {

class NoKeepAwake final : public IKeepAwake {
public:
    void Begin() override {}
    void End() override {}
};

}  // namespace

std::unique_ptr<IKeepAwake> CreateSystemKeepAwake() {
    return std::make_unique<NoKeepAwake>();
}
