// Reports a short run through the system log, as UpdateExe does: the run
// log test runs it under Wine and reads the entries from Wine's debug output.
#include "run/RunReport.h"

int main() {
    using namespace ue;
    SystemLogReport log;
    RunEvent start;
    start.installation = "C:\\suite\\";
    log.Report(start);
    RunEvent queued;
    queued.kind = RunEvent::Kind::File;
    queued.fate = RunEvent::Fate::Queued;
    queued.file = "C:\\suite\\probe-queued.dll";
    queued.reason = "in use; it is replaced at the next restart";
    log.Report(queued);
    RunEvent end;
    end.kind = RunEvent::Kind::Outcome;
    end.installation = start.installation;
    end.outcome = RunEvent::Outcome::Failed;
    end.reason = "probe failure";
    log.Report(end);
    return 0;
}
