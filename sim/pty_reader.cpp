#include "sim/pty_reader.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "sim/descriptor.hpp"

namespace uhfsim {

namespace {

[[noreturn]] void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyReader::PtyReader() {
    try {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) throw_errno("posix_openpt");
        if (::grantpt(master_) != 0) throw_errno("grantpt");
        if (::unlockpt(master_) != 0) throw_errno("unlockpt");
        char name[128];
        if (const int rc = ::ptsname_r(master_, name, sizeof name); rc != 0) {
            errno = rc;
            throw_errno("ptsname_r");
        }
        path_ = name;
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            throw_errno("fcntl");

        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) throw_errno("open pty slave");
        // Raw from the start: echo or newline translation would corrupt frames before the
        // host applies its own settings.
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0) throw_errno("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0) throw_errno("tcsetattr");

        loop_.start(*this);
    } catch (...) {
        close_fd(slave_);
        close_fd(master_);
        throw;
    }
}

PtyReader::~PtyReader() {
    stop();
    close_fd(slave_);
    close_fd(master_);
}

void PtyReader::stop() { loop_.stop(); }

void PtyReader::hang_up() {
    loop_.call([this] {
        close_fd(master_);
        close_fd(slave_);
    });
}

void PtyReader::on_hangup() {
    // Not expected while our own slave descriptor is open; never spin on it.
    ::usleep(10'000);
}

}  // namespace uhfsim
