#include "platform/interrupt_flag.h"
#include "platform/standard_stream_write.h"
#include "platform/standard_streams.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

namespace mbus::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a waiting write looks for a termination request.
constexpr auto kRequestCheck = 20ms;

std::atomic<bool> ReaderGone{false};

// From when held writes give up: set when a waiting write first sees a termination request.
std::atomic<Clock::rep> GiveUpAt{0};

// Whether a write that is still held should give up now.
bool GivingUp() {
    if (!InterruptFlag::TerminationRequested())
        return false;
    Clock::rep unset = 0;
    const Clock::rep deadline =
        (Clock::now() + std::chrono::milliseconds(StandardOutputStreams::kTerminationGraceMs))
            .time_since_epoch()
            .count();
    GiveUpAt.compare_exchange_strong(unset, deadline);
    return Clock::now().time_since_epoch().count() >= GiveUpAt.load();
}

// One stream's writer: bytes handed over by the writing thread, written by a thread of its own.
// Shared by both, so a thread left in a write the system holds keeps what it uses.
class StreamWriter {
public:
    explicit StreamWriter(StandardStream stream) : Stream_(stream) {}

    // Hands the bytes over and waits until they are written; false when the stream has failed
    // (now or before), or the wait gave up after a termination request.
    bool Write(const char* bytes, std::size_t count) {
        std::unique_lock lock(Lock_);
        if (Failed_)
            return false;
        Handed_.assign(bytes, count);
        Changed_.notify_all();
        while (Working() && !Failed_) {
            if (Changed_.wait_for(lock, kRequestCheck) == std::cv_status::no_timeout)
                continue;
            lock.unlock();
            const bool givingUp = GivingUp();
            lock.lock();
            if (givingUp && Working())
                Failed_ = true; // the thread may stay in its write: the stream is done
        }
        return !Failed_;
    }

    bool Failed() {
        const std::lock_guard lock(Lock_);
        return Failed_;
    }

    // The writer thread: writes what is handed over until told to end.
    void Run() {
        std::unique_lock lock(Lock_);
        for (;;) {
            Changed_.wait(lock, [this] { return !Handed_.empty() || Ending_; });
            if (Handed_.empty())
                return;
            const std::string bytes = std::move(Handed_);
            Handed_.clear();
            InWrite_ = true;
            lock.unlock();
            const StreamWriteResult result = WriteStandardStream(Stream_, bytes);
            lock.lock();
            InWrite_ = false;
            if (result != StreamWriteResult::Written)
                Failed_ = true;
            if (result == StreamWriteResult::ReaderGone)
                ReaderGone.store(true);
            Changed_.notify_all();
        }
    }

    // Asks the thread to end; whether it is free to (not held in a write).
    bool End() {
        const std::lock_guard lock(Lock_);
        Ending_ = true;
        Changed_.notify_all();
        return !Working();
    }

private:
    bool Working() const { return InWrite_ || !Handed_.empty(); }

    const StandardStream Stream_;
    std::mutex Lock_;
    std::condition_variable Changed_;
    std::string Handed_; // waiting for the writer thread
    bool InWrite_ = false;
    bool Failed_ = false;
    bool Ending_ = false;
};

// A stream buffer that collects what the stream puts and hands it to its writer when full and
// at every flush.
class WriterBuffer : public std::streambuf {
public:
    explicit WriterBuffer(StandardStream stream)
        : Writer_(std::make_shared<StreamWriter>(stream)),
          Thread_(StartSignalFreeThread([writer = Writer_] { writer->Run(); })) {
        setp(Buffer_.data(), Buffer_.data() + Buffer_.size());
    }

    ~WriterBuffer() override {
        if (Writer_->End())
            Thread_.join();
        else
            Thread_.detach(); // held by the system: it ends with the program
    }

    WriterBuffer(const WriterBuffer&) = delete;
    WriterBuffer& operator=(const WriterBuffer&) = delete;

protected:
    int_type overflow(int_type c) override {
        if (!Hand())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return Hand() ? 0 : -1; }

private:
    // Hands the collected bytes to the writer and empties the buffer.
    bool Hand() {
        const auto count = static_cast<std::size_t>(pptr() - pbase());
        setp(Buffer_.data(), Buffer_.data() + Buffer_.size());
        return count == 0 ? !Writer_->Failed() : Writer_->Write(Buffer_.data(), count);
    }

    std::array<char, 8192> Buffer_{};
    std::shared_ptr<StreamWriter> Writer_;
    std::thread Thread_;
};

} // namespace

struct StandardOutputStreams::Streams {
    WriterBuffer Output{StandardStream::Output};
    WriterBuffer Error{StandardStream::Error};
    std::streambuf* PreviousOutput = nullptr;
    std::streambuf* PreviousError = nullptr;
};

StandardOutputStreams::StandardOutputStreams() : Streams_(std::make_unique<Streams>()) {
    Streams_->PreviousOutput = std::cout.rdbuf(&Streams_->Output);
    Streams_->PreviousError = std::cerr.rdbuf(&Streams_->Error);
}

StandardOutputStreams::~StandardOutputStreams() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(Streams_->PreviousOutput);
    std::cerr.rdbuf(Streams_->PreviousError);
}

bool StandardOutputReaderGone() {
    return ReaderGone.load();
}

} // namespace mbus::platform
