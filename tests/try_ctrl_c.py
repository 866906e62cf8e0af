# try_ctrl_c.py typed|signal TRIGGER DELAY LOG COMMAND...
# Runs COMMAND as a terminal runs a command, and DELAY s after it has said a
# line that matches TRIGGER, types Ctrl+C on its pseudo-terminal ("typed")
# or sends SIGINT to its process group ("signal", not on a terminal). Prints
# when Ctrl+C came (s after the start), how long after it the command said
# that it stops ("try: stopping") and ended (s), and its exit status; "-"
# for what never came: TRIGGER within 300 s, the rest within 120 s of
# Ctrl+C, after which its process group is killed. Keeps what it wrote in LOG.
import os, pty, re, select, signal, subprocess, sys, time
how, trigger, delay, log = sys.argv[1], sys.argv[2].encode(), float(sys.argv[3]), sys.argv[4]
if how == "typed":
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(sys.argv[5], sys.argv[5:])
else:
    fd, write_end = os.pipe()
    pid = subprocess.Popen(sys.argv[5:], stdin=subprocess.DEVNULL, stdout=write_end,
                           stderr=write_end, start_new_session=True).pid
    os.close(write_end)
text, due, sent, said, status, killed, open_ = b"", None, None, None, None, False, True
started = time.monotonic()
while status is None:
    now = time.monotonic()
    if due is None and re.search(trigger, text, re.M):
        due = now + delay
    if sent is None and due is not None and now >= due:
        if how == "typed":
            os.write(fd, b"\x03")
        else:
            os.killpg(pid, signal.SIGINT)
        sent, at = now, len(text)
        text += b"<Ctrl+C>"
    if not killed and now - (sent or started) > (120 if sent else 300):
        killed = True
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if open_ and select.select([fd], [], [], 0.05)[0]:
        try:
            data = os.read(fd, 4096)
        except OSError:
            data = b""
        open_ = bool(data)
        text += data
        if sent and said is None and b"try: stopping" in text[at:]:
            said = time.monotonic()
        continue
    if not open_:
        time.sleep(0.05)
    done, wait_status = os.waitpid(pid, os.WNOHANG)
    if done:
        status = os.waitstatus_to_exitcode(wait_status)
ended = None if killed else time.monotonic()
open(log, "wb").write(text)
since = lambda moment: "%.2f" % (moment - sent) if sent and moment else "-"
print("%.2f" % (sent - started) if sent else "-", since(said), since(ended), status)
