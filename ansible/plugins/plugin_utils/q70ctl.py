# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
"""Running q70ctl on a managed host through the host's own connection.

Both action plugins of the collection go through this, on the controller: the command
line is built for the host's shell (POSIX sh, or PowerShell on Windows), run with
_low_level_execute_command, and q70ctl's JSON lines are read back from stdout and stderr.
"""

from __future__ import annotations

import datetime
import json
import re
import shlex
import time

from ansible.module_utils.parsing.convert_bool import BOOLEANS_FALSE, BOOLEANS_TRUE

# The five settings as q70ctl spells them, with the words for the values 0 and 1, in the
# order the board is written.
SETTINGS = {
    'print-mode': ('original', 'match'),
    'save-mode': ('original', 'match'),
    'paper': ('a4', 'letter'),
    'margin': ('disable', 'enable'),
    'time-stamp': ('disable', 'enable'),
}
# The order they are shown in: as q70ctl's get prints them.
SETTINGS_SHOWN = ('time-stamp', 'margin', 'paper', 'print-mode', 'save-mode')

SCHEMA = 1

# The options of both modules for reaching q70ctl and waiting for a busy board (documented
# in the doc fragment q70.utility.q70ctl, busy_retries in each module).
COMMON_ARGUMENTS = dict(
    q70ctl=dict(type='str'),
    timeout=dict(type='int', default=5000),
    busy_retries=dict(type='int', default=3),
    busy_delay=dict(type='int', default=2),
)

# q70ctl's exit statuses, for the rare failure that comes without its JSON line.
_CLASS_OF_EXIT = {2: 'usage', 3: 'no-device', 4: 'timeout', 5: 'busy', 6: 'refused', 7: 'lost'}

# Where the Windows installer puts q70ctl.exe, as a PowerShell expression.
_WINDOWS_DEFAULT = "(Join-Path $env:ProgramFiles 'Q-70 Utility\\bin\\q70ctl.exe')"

_CLOCK = re.compile(r'^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}$')


class Failure(Exception):
    """A step that did not succeed: its class, message and what the caller should report."""

    def __init__(self, failure_class, msg, rc=None, device=None, step=None):
        super().__init__(msg)
        self.failure_class = failure_class
        self.msg = msg
        self.rc = rc
        self.device = device
        self.step = step

    def result(self):
        r = {'failed': True, 'msg': self.msg, 'failure_class': self.failure_class}
        if self.rc is not None:
            r['rc'] = self.rc
        if self.device is not None:
            r['device'] = self.device
        if self.step is not None:
            r['step'] = self.step
        return r


def setting_name(name):
    """q70ctl's name of a setting given as time_stamp or time-stamp; None if unknown."""
    kebab = str(name).strip().lower().replace('_', '-')
    return kebab if kebab in SETTINGS else None


def setting_word(name, value):
    """The word q70ctl takes for `value` of setting `name` (kebab), or raises Failure."""
    zero, one = SETTINGS[name]
    switch = zero == 'disable'
    if isinstance(value, bool):
        if switch:
            return one if value else zero
    elif isinstance(value, int):
        if value in (0, 1):
            return (zero, one)[value]
    elif isinstance(value, str):
        word = value.strip().lower()
        if word in (zero, one):
            return word
        if word in ('0', '1'):
            return (zero, one)[int(word)]
        if switch and word in BOOLEANS_TRUE:
            return one
        if switch and word in BOOLEANS_FALSE:
            return zero
    accepted = '%s or %s' % (zero, one)
    if switch:
        accepted += ' (or a boolean)'
    raise Failure('usage', 'settings: %s takes %s, not %r' % (name.replace('-', '_'), accepted, value))


def wanted_settings(settings):
    """The settings dict of a task as {kebab name: word}."""
    wanted = {}
    for key, value in (settings or {}).items():
        if value is None:
            continue  # not given
        name = setting_name(key)
        if name is None:
            raise Failure('usage', 'settings: unknown setting %r; the settings are %s' % (
                key, ', '.join(n.replace('-', '_') for n in SETTINGS_SHOWN)))
        word = setting_word(name, value)
        if wanted.get(name, word) != word:
            raise Failure('usage', 'settings: %s is given twice, as %s and %s' % (
                name.replace('-', '_'), wanted[name], word))
        wanted[name] = word
    return wanted


def check_clock(clock):
    """Raises Failure unless `clock` is now or a valid YYYY-MM-DDTHH:MM."""
    if clock == 'now':
        return
    if isinstance(clock, str) and _CLOCK.match(clock):
        try:
            datetime.datetime.strptime(clock, '%Y-%m-%dT%H:%M')
            return
        except ValueError:
            pass
    raise Failure('usage', 'clock: %r is neither now nor a date and time YYYY-MM-DDTHH:MM' % (clock,))


def snake(name):
    return name.replace('-', '_')


def board_record(info):
    """A board as the modules return it, from one document of q70ctl info --json."""
    board = {}
    for key, value in info.items():
        if key in ('schema', 'device', 'settings'):
            continue
        board[snake(key)] = value
    where = info.get('device')
    if isinstance(where, dict):
        board['device'] = where.get('address')
        for key in ('port', 'serial'):
            if key in where:
                board[key] = where[key]
    else:
        board['device'] = where
    board['settings'] = dict(info.get('settings') or {})
    return board


class Outcome:
    """One run of q70ctl: exit status, its JSON documents and failure lines, the raw text."""

    def __init__(self, rc, stdout, stderr, command):
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr
        self.command = command
        self.documents = []
        self.errors = []
        for text in (stdout, stderr):
            for line in text.splitlines():
                line = line.strip()
                if not line.startswith(('{', '[')):
                    continue
                try:
                    doc = json.loads(line)
                except ValueError:
                    continue
                if isinstance(doc, dict) and 'error' in doc:
                    self.errors.append(doc)
                else:
                    self.documents.append(doc)

    def failure(self, step, device=None):
        """The first failure of this run as a Failure (None when q70ctl succeeded)."""
        lines = [line for line in self.stderr.splitlines() if line.strip()]
        last = lines[-1].strip() if lines else ''
        # PowerShell may end with status 0 when the program is not there at all.
        if self.rc == 127 or 'CommandNotFoundException' in self.stderr:
            return Failure('missing', 'q70ctl could not be run on the host (%s): %s' % (self.command, last),
                           rc=self.rc, device=device, step=step)
        if self.rc == 0 and not self.errors:
            return None
        if self.errors:
            e = self.errors[0]
            return Failure(str(e.get('error')), str(e.get('message', '')).strip(),
                           rc=e.get('exit', self.rc), device=e.get('device', device), step=step)
        return Failure(_CLASS_OF_EXIT.get(self.rc, 'failed'),
                       last or 'q70ctl ended with exit status %d' % self.rc,
                       rc=self.rc, device=device, step=step)


class Q70ctl:
    """q70ctl on the host of an action plugin's task."""

    def __init__(self, action, path=None, timeout=None, busy_retries=0, busy_delay=0):
        self._action = action
        shell = action._connection._shell
        self.powershell = getattr(shell, 'SHELL_FAMILY', 'sh') == 'powershell'
        self.path = path
        self.timeout = timeout
        self.busy_retries = busy_retries
        self.busy_delay = busy_delay
        self.commands = []

    def _quote(self, word):
        if self.powershell:
            return "'" + str(word).replace("'", "''") + "'"
        return shlex.quote(str(word))

    def command_line(self, args, devices=()):
        """The line the host's shell runs for q70ctl with these arguments."""
        words = []
        for device in filter(None, devices):
            words += ['--device', device]
        if self.timeout is not None:
            words += ['--timeout', str(self.timeout)]
        words += list(args)
        quoted = ' '.join(self._quote(w) for w in words)
        environment = {}
        self._action._compute_environment_string(environment)
        if self.powershell:
            program = self._quote(self.path) if self.path else _WINDOWS_DEFAULT
            setup = ''.join('$env:%s = %s; ' % (k, self._quote(v)) for k, v in environment.items())
            return '%s& %s %s; exit $LASTEXITCODE' % (setup, program, quoted)
        program = self._quote(self.path or 'q70ctl')
        prefix = ' '.join('%s=%s' % (k, shlex.quote(str(v))) for k, v in environment.items())
        return ('%s %s %s' % (prefix, program, quoted)).strip()

    def shown(self, args, devices=()):
        """The command as a user would type it, for reports."""
        words = [self.path or 'q70ctl']
        for device in filter(None, devices):
            words += ['--device', device]
        words += list(args)
        return ' '.join(shlex.quote(str(w)) for w in words)

    def run(self, args, devices=()):
        """Runs q70ctl once; the Outcome."""
        line = self.command_line(args, devices)
        r = self._action._low_level_execute_command(line, sudoable=True)
        return Outcome(r.get('rc', 0), r.get('stdout', ''), r.get('stderr', ''), self.shown(args, devices))

    def run_retrying(self, args, devices=()):
        """Runs q70ctl, again after a pause while the board is busy, up to busy_retries times."""
        attempt = 0
        while True:
            outcome = self.run(args, devices)
            busy = [e for e in outcome.errors if e.get('error') == 'busy']
            if not busy or attempt >= self.busy_retries:
                return outcome
            attempt += 1
            time.sleep(self.busy_delay)

    def document(self, args, step, device=None):
        """Runs a one-board command; its one JSON document, or raises Failure."""
        outcome = self.run_retrying(list(args) + ['--json'], [device])
        failure = outcome.failure(step, device)
        if failure:
            raise failure
        docs = [d for d in outcome.documents if isinstance(d, dict)]
        if len(docs) != 1:
            raise Failure('bad-output', 'q70ctl printed %d JSON documents for %s, not one' % (
                len(docs), outcome.command), rc=outcome.rc, device=device, step=step)
        check_schema(docs[0], outcome.command, device, step)
        return docs[0]

    def info(self, device, step='read'):
        return board_record(self.document(['info'], step, device))

    def boards_infos(self, devices):
        """info of several boards in one run, each busy one again; (boards, failures)."""
        boards = {}
        failures = {}
        pending = list(devices)
        attempt = 0
        while pending:
            outcome = self.run(['info', '--json'], pending)
            for doc in outcome.documents:
                if isinstance(doc, dict):
                    check_schema(doc, outcome.command, None, 'read')
                    board = board_record(doc)
                    boards[board['device']] = board
            busy = []
            for e in outcome.errors:
                f = Failure(str(e.get('error')), str(e.get('message', '')).strip(),
                            rc=e.get('exit'), device=e.get('device'), step='read')
                failures[f.device] = f
                if f.failure_class == 'busy':
                    busy.append(f.device)
            if not outcome.errors and outcome.rc != 0:
                f = outcome.failure('read')
                failures[f.device] = f
            if not busy or attempt >= self.busy_retries:
                break
            attempt += 1
            pending = busy
            time.sleep(self.busy_delay)
        for address in boards:
            failures.pop(address, None)
        return list(boards.values()), list(failures.values())

    def list_boards(self):
        """The addresses q70ctl list finds; None when this q70ctl cannot list (no USB)."""
        outcome = self.run(['list', '--json'])
        failure = outcome.failure('list')
        if failure:
            if failure.failure_class == 'no-device':
                return None
            raise failure
        arrays = [d for d in outcome.documents if isinstance(d, list)]
        if len(arrays) != 1:
            raise Failure('bad-output', 'q70ctl list --json printed no JSON array', rc=outcome.rc, step='list')
        return [b.get('address') for b in arrays[0] if isinstance(b, dict) and b.get('address')]


def check_schema(doc, command, device, step):
    schema = doc.get('schema')
    if schema != SCHEMA:
        raise Failure('bad-output', '%s printed schema %r; this collection reads schema %d' % (
            command, schema, SCHEMA), device=device, step=step)
