// One simulated COM port: a pseudo-terminal whose slave Wine opens through the link
// $WINEPREFIX/dosdevices/comN. We keep the master (the controller's end of the cable) and also
// a slave descriptor, so the line settings stick and the master never sees a hangup when the
// program closes the port.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "serial_line.h"

namespace kelma {

class PtyPort : public SerialLine {
public:
    // Makes the pty and points linkPath at its slave; nullptr and *error on failure.
    static std::unique_ptr<PtyPort> Open(const std::string& linkPath, std::string* error);
    ~PtyPort()
        override;  // closes both ends (an unplugged cable) and removes the link if still ours
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& LinkPath() const { return linkPath_; }

    // Queues bytes for the program and writes as much as the pty takes now, in one write.
    void Write(std::string_view bytes) override;
    // Writes more of the queue (call when the master is writable).
    void Flush();
    bool HasPendingOutput() const { return !pending_.empty(); }
    // Makes the port impossible to open, as one in use by another program, by pointing the
    // link at a pty that stays locked (opening its slave fails with EIO, even for root). Opened
    // handles keep working. Release points the link back at the port.
    bool Hold(std::string* error);
    bool Release(std::string* error);
    bool Held() const { return lockedMaster_ >= 0; }

    // Stops taking the program's bytes, as a hung adapter or a stopped link does: output of the
    // slave side is suspended (tcflow TCOOFF), so the program's writes stay pending. Unstall
    // resumes it; bytes to the program keep flowing throughout.
    bool Stall(bool on, std::string* error);
    // A deaf port is left out of the poll loop: the program's writes complete, and their bytes
    // wait in the pty until it hears again; beyond the 4 KB our side buffers, a transmit purge
    // on the program's side drops them.
    void SetDeaf(bool on) { deaf_ = on; }
    bool Deaf() const { return deaf_; }

    // Drops every byte still on its way in either direction.
    void Purge() override;
    // Reads what the program wrote; empty when nothing is waiting.
    std::string Read();

private:
    PtyPort() = default;

    int master_ = -1;
    int slave_ = -1;
    int lockedMaster_ = -1;
    std::string lockedPath_;
    std::string slavePath_;
    std::string linkPath_;
    std::string pending_;
    bool deaf_ = false;
};

}  // namespace kelma
