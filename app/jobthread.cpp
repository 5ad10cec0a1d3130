// One job at a time on each printer, on one thread. PAPPL 1.3 starts a job's
// thread when the job is pending and the printer is not printing, but the
// thread marks the job as printing, and the printer as busy, only once it
// runs. Whenever a job ends or arrives, PAPPL looks for the next pending job;
// two such looks close together (one job cancelled or ended just as another
// arrives) each start a thread before either has run: on the same job, or on
// two jobs. Both then write to the printer's one device, and the first to end
// closes it under the other, which brings the server down.
//
// PAPPL starts every job thread in its function _papplJobProcess, which it
// takes by its exported name; the program defines that name itself, so each
// job thread begins here. A job's second thread ends at once. The others take
// turns per printer, in the order they started: each runs PAPPL's own job
// thread (open the device, print, end the job, close the device) only after
// the one before it has ended, and only if its job is still pending then (it
// may have been cancelled or held while it waited).
#include <pappl/pappl.h>

#include <dlfcn.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace {

using JobThread = void *(*)(pappl_job_t *);

// The turns of one printer's job threads: the next ticket to hand out and
// the ticket whose thread may print now.
struct Turns
{
  unsigned long next = 0, serving = 0;
};

std::mutex TurnLock;
std::condition_variable TurnDone;
std::map<pappl_printer_t *, Turns> Printers;
// The jobs, by printer and number, that have a thread waiting or printing.
std::set<std::pair<pappl_printer_t *, int>> Claimed;

// PAPPL's own job thread: it opens the device, prints the job and ends it.
JobThread PapplJobThread()
{
  static const JobThread thread = reinterpret_cast<JobThread>(dlsym(RTLD_NEXT, "_papplJobProcess"));
  return thread;
}

// Gives the printer to the next thread in turn, the job's claim ended.
void EndTurn(pappl_printer_t *printer, int id)
{
  std::lock_guard<std::mutex> lock(TurnLock);
  Printers[printer].serving++;
  Claimed.erase({printer, id});
  TurnDone.notify_all();
}

}  // namespace

// Runs a job thread when its printer's turn comes to it; a job's second
// thread, and a thread whose job is no longer pending, end without printing.
extern "C" void *_papplJobProcess(pappl_job_t *job)
{
  pappl_printer_t *printer = papplJobGetPrinter(job);
  int id = papplJobGetID(job);
  unsigned long ticket;
  {
    std::unique_lock<std::mutex> lock(TurnLock);
    if (!Claimed.insert({printer, id}).second) {
      papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "The job has a thread already; this one ends.");
      return nullptr;
    }
    Turns &turns = Printers[printer];
    ticket = turns.next++;
    TurnDone.wait(lock, [&turns, ticket] { return turns.serving == ticket; });
  }
  // Finding the job by its number again, rather than reading it, is safe
  // even if it was cancelled and discarded while this thread waited. A job
  // that ended before this thread came prints no second time. (Processing:
  // a PAPPL that marks the job before starting its thread.)
  void *result = nullptr;
  ipp_jstate_t state =
      papplPrinterFindJob(printer, id) == job ? papplJobGetState(job) : IPP_JSTATE_COMPLETED;
  if (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING)
    result = PapplJobThread()(job);
  else
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Job %d is no longer pending.", id);
  EndTurn(printer, id);
  return result;
}
