#include "TraceWriter.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fwemu {

TraceWriter::TraceWriter(const std::string& path)
{
    file_ = std::fopen(path.c_str(), "we");
    if (file_ == nullptr)
        throw std::runtime_error("cannot create trace file " + path + ": " + std::strerror(errno));
}

TraceWriter::~TraceWriter()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void TraceWriter::write(const std::string& event, const nlohmann::json& fields)
{
    if (file_ == nullptr)
        return;
    // nlohmann's object keeps keys sorted; "seq" and "event" are written
    // first by hand so that a line reads naturally.
    std::string line = "{\"seq\":" + std::to_string(seq_++) + ",\"event\":" + nlohmann::json(event).dump();
    // Text that is not UTF-8 (a program's argv may hold any bytes) is
    // written with U+FFFD in place of the bad bytes.
    for (auto it = fields.begin(); it != fields.end(); ++it)
        line += "," + nlohmann::json(it.key()).dump() + ":" +
                it.value().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += "}\n";
    std::fputs(line.c_str(), file_);
}

} // namespace fwemu
