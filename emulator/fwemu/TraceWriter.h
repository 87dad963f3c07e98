// Writes the --trace file: one JSON object per line, one line per trapped
// event, each with a running "seq" number and the event name first.
#ifndef FWEMU_TRACEWRITER_H
#define FWEMU_TRACEWRITER_H

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace fwemu {

class TraceWriter {
public:
    // A writer that drops every event.
    TraceWriter() = default;
    // Throws std::runtime_error when the file cannot be created.
    explicit TraceWriter(const std::string& path);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    bool enabled() const { return file_ != nullptr; }
    // Writes {"seq": n, "event": event, ...fields}.
    void write(const std::string& event, const nlohmann::json& fields = nlohmann::json::object());

private:
    std::FILE* file_ = nullptr;
    unsigned long seq_ = 0;
};

} // namespace fwemu

#endif
