#pragma once

#include "export/export_run.h"
#include "walk_fixtures.h"

#include <atomic>
#include <functional>

namespace brindle::test {

// The in-process converter, counting, and stopping the run once `cancelAfter` files are
// converted (0: never).
struct RunConversions {
    InProcessConverter converter;
    std::atomic<bool> cancel{false};
    std::atomic<int> given{0};
    int cancelAfter = 0;

    // The run's calls: its converter and its cancel flag, nothing else.
    ExportCalls calls() {
        ExportCalls calls;
        calls.cancel = &cancel;
        calls.startConverter = [this](const CheckSettings&) {
            return Result<std::function<void(ConversionJob, FileConversions::Done)>>(
                [this](ConversionJob job, FileConversions::Done done) {
                    if (cancelAfter > 0 && ++given > cancelAfter) {
                        cancel = true;
                        ConvertedFile cancelled;
                        cancelled.cancelled = true;
                        done(job, std::move(cancelled));
                        return;
                    }
                    converter.convert(std::move(job), std::move(done));
                });
        };
        return calls;
    }
};

} // namespace brindle::test
