#!/usr/bin/python3
# Decides every open of one file, for tests that need a file which opens for
# some callers and not for later ones. Linux fanotify permission events; root.
# Usage: opengate.py FILE DECISIONS DIR
#   DECISIONS: comma-separated "allow"/"deny" for the first opens, in order;
#   later opens are allowed. DIR receives "ready" once the gate stands, one
#   line per decision in "log", and the gate ends when "stop" appears there
#   (or after two minutes).
import ctypes, os, struct, sys, time, select

FAN_CLASS_CONTENT = 0x04
FAN_CLOEXEC = 0x01
FAN_MARK_ADD = 0x01
FAN_OPEN_PERM = 0x00010000
FAN_ALLOW, FAN_DENY = 0x01, 0x02
AT_FDCWD = -100

def main():
    path, decisions, folder = sys.argv[1], sys.argv[2].split(","), sys.argv[3]
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int, ctypes.c_char_p]
    fan = libc.fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, os.O_RDONLY)
    if fan < 0 or libc.fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, path.encode()) < 0:
        open(os.path.join(folder, "failed"), "w").write(os.strerror(ctypes.get_errno()))
        return 1
    open(os.path.join(folder, "ready"), "w").close()
    log = open(os.path.join(folder, "log"), "a", buffering=1)
    stop = os.path.join(folder, "stop")
    end = time.time() + 120
    count = 0
    while time.time() < end and not os.path.exists(stop):
        if not select.select([fan], [], [], 0.05)[0]:
            continue
        buf = os.read(fan, 4096)
        offset = 0
        while offset + 24 <= len(buf):
            length, _, _, _, _, fd, pid = struct.unpack_from("=IBBHQii", buf, offset)
            wanted = decisions[count] if count < len(decisions) else "allow"
            count += 1
            os.write(fan, struct.pack("=iI", fd, FAN_DENY if wanted == "deny" else FAN_ALLOW))
            os.close(fd)
            log.write("%s %d\n" % (wanted, pid))
            offset += length
    return 0

sys.exit(main())
