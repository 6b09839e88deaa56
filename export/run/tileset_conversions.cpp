// The run's converter: the worker processes of FileConversions. Apart from the rest of the
// tileset writing, so that its tests can convert in-process instead.
#include "export/run/tileset_writing.h"

#include <memory>
#include <utility>

namespace brindle {

ConverterStart WorkerConverterStart() {
    return [](const CheckSettings& settings) -> Result<FileConverter> {
        Result<std::unique_ptr<FileConversions>> started = FileConversions::Start(settings);
        if (!started)
            return started.error();
        // Shared by the copies of the converter; the last one ends the workers.
        std::shared_ptr<FileConversions> workers = std::move(*started);
        return FileConverter([workers](ConversionJob job, FileConversions::Done done) {
            workers->convert(std::move(job), std::move(done));
        });
    };
}

} // namespace brindle
