"""Calls keyhound.run_command the way a user's script would. It reports the
outcome on its own exit status: 0 for None, 1 for RuntimeError, 3 for any
other exception. This file is itself analysed (it is the first file on the
process's command line), so it holds no subscript."""

import os
import sys

sys.path.insert(0, os.environ.get("KEYHOUND_MODULE_DIR", ""))

import keyhound  # noqa: E402

try:
    result = keyhound.run_command("ignored")
except RuntimeError as error:
    sys.stderr.write("launcher: RuntimeError(%r)\n" % (str(error),))
    sys.stderr.flush()
    sys.exit(1)
except BaseException as error:
    sys.stderr.write("launcher: %s.%s(%r)\n" % (type(error).__module__, type(error).__name__,
                                                str(error)))
    sys.stderr.flush()
    sys.exit(3)
sys.stderr.write("launcher: %r\n" % (result,))
sys.stderr.flush()
