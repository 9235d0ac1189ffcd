// The manager's loop over the units of a job, its progress display, and the
// executor that correlates units in the manager itself.
#include <cstring>

#include "mpi_job.h"
#include "run_signals.h"

namespace korva {

namespace {

// Passes results to the writer and counts the units still out.
class counting_events : public unit_events {
 public:
  explicit counting_events(ordered_writer& writer) : writer_(writer) {}
  void batch_arrived(const record_batch& batch) override { writer_.batch_arrived(batch); }
  void unit_finished(int64_t sequence, const job_failure* failure) override {
    writer_.unit_finished(sequence, failure);
    --out_;
  }
  void unit_started() { ++out_; }
  int32_t out() const { return out_; }

 private:
  ordered_writer& writer_;
  int32_t out_ = 0;
};

// Hands out what may be handed out now: process starts in order, units while
// a worker is free and the pending units stay within the bound; nothing at or
// after a failure's place.
void hand_out(unit_cursor& cursor, ordered_writer& writer, unit_executor& executor, counting_events& events,
              int32_t bound) {
  for (;;) {
    const unit_cursor::kind kind = cursor.next_kind();
    if (kind == unit_cursor::kind::end) return;
    if (writer.failed() && !(cursor.next_position() < writer.failure_position())) return;
    if (kind == unit_cursor::kind::process_start) {
      const int32_t process = cursor.process();
      const int32_t units = cursor.units_of_process(process);
      if (!writer.can_start_process(process, units)) return;
      cursor.take_process_start();
      writer.start_process(process, units);
      continue;
    }
    if (executor.idle_workers() == 0) return;
    const int64_t oldest = writer.oldest_pending();
    if (oldest >= 0 && cursor.next_sequence() - oldest >= bound) return;
    const work_unit unit = cursor.take_unit();
    writer.unit_started(unit);
    events.unit_started();
    executor.start(unit);
  }
}

}  // namespace

int32_t pending_unit_bound(int32_t workers) { return workers < 1 ? 2 : 2 * workers; }

int run_job(const schedule_tables& tables, const job_settings& settings, unit_executor& executor, std::FILE* out,
            std::FILE* err, bool show_progress) {
  ordered_writer writer(tables, settings, out, err);
  progress_display progress(out, show_progress);
  writer.set_line_hook([&progress] { progress.clear(); });
  unit_cursor cursor(tables, settings.chunk_seconds);
  counting_events events(writer);
  const int32_t bound = pending_unit_bound(executor.worker_count());
  for (;;) {
    // A stop request (the handlers are the program's to install) ends the
    // job between records, so every file ends on a whole one.
    if (stop_signal() != 0) {
      progress.clear();
      return writer.stop(stop_signal());
    }
    hand_out(cursor, writer, executor, events, bound);
    // Every unit out has come back: nothing more can be handed out (the
    // cursor is at its end, or at a failure's place).
    if (events.out() == 0) break;
    const bool arrived = executor.poll(events, 20);
    progress.update(writer, false);
    (void)arrived;
  }
  progress.clear();
  return writer.finish();
}

progress_display::progress_display(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {
  gettimeofday(&start_, nullptr);
}

void progress_display::update(const ordered_writer& writer, bool force) {
  if (!enabled_) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  const double elapsed = seconds_between(start_, now);
  if (!force && elapsed - last_ < 0.5) return;
  last_ = elapsed;
  const double done = writer.seconds_done();
  const double rate = elapsed > 0 ? writer.raw_bytes_done() / elapsed / 1e6 : 0.0;
  const double speed = elapsed > 0 ? done / elapsed : 0.0;
  const int length = std::fprintf(out_, "\rKORVA_MPI [Progress] : %.0f/%lld s done  %.1f MB/s  %.2fx real time",
                                  done, static_cast<long long>(writer.job_seconds()), rate, speed);
  width_ = length > width_ ? length : width_;
  std::fflush(out_);
  shown_ = true;
}

void progress_display::clear() {
  if (!shown_) return;
  std::fprintf(out_, "\r%*s\r", width_, "");
  std::fflush(out_);
  shown_ = false;
}

void local_executor::start(const work_unit& unit) {
  unit_ = unit;
  busy_ = true;
}

bool local_executor::poll(unit_events& events, int32_t /*wait_ms*/) {
  if (!busy_) return false;
  busy_ = false;
  job_failure failure;
  const bool done = runner_.run(unit_, [&events](record_batch& batch) { events.batch_arrived(batch); }, failure);
  events.unit_finished(unit_.sequence, done ? nullptr : &failure);
  return true;
}

}  // namespace korva
