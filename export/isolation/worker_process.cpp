#include "export/isolation/worker_process.h"

// What the worker's exchanges are on every system; the channel itself is in the platform's
// file.

namespace brindle {

Result<WorkerProcess::Outcome> WorkerProcess::exchange(const CheckRequest& request,
                                                       std::chrono::milliseconds deadline,
                                                       CheckReply& reply) {
    const Result<std::optional<Outcome>> sent = send({request}, deadline);
    if (!sent)
        return sent.error();
    if (*sent)
        return **sent;
    return receive(deadline, reply);
}

WorkerProcess::Outcome WorkerProcess::takeReply(std::string_view bytes, CheckReply& reply) {
    const std::optional<CheckReply> decoded = DecodeReply(bytes);
    if (!decoded) {
        stop();
        return Outcome::Crashed;
    }
    reply = *decoded;
    if (reply.retiring)
        stop();
    return Outcome::Replied;
}

} // namespace brindle
