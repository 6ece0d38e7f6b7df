# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
"""q70.utility.board: one board brought to a wanted state, through q70ctl on its host."""

from __future__ import annotations

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase

from ansible_collections.q70.utility.plugins.plugin_utils.q70ctl import (
    COMMON_ARGUMENTS, SETTINGS, SETTINGS_SHOWN, Failure, Q70ctl, check_clock, wanted_settings)

ARGUMENT_SPEC = dict(
    device=dict(type='str'),
    settings=dict(type='dict', options=dict(
        time_stamp=dict(type='raw', aliases=['time-stamp']),
        margin=dict(type='raw'),
        paper=dict(type='raw'),
        print_mode=dict(type='raw', aliases=['print-mode']),
        save_mode=dict(type='raw', aliases=['save-mode']),
    )),
    clock=dict(type='str'),
    firmware=dict(type='str'),
    firmware_version=dict(type='str'),
    test_image=dict(type='str'),
    test_image_wait=dict(type='int', default=60),
    **COMMON_ARGUMENTS,
)


def _state_text(settings, firmware_version, clock=None):
    """What diff mode shows of a board, one line per setting."""
    lines = ['%s: %s' % (name.replace('-', '_'), settings.get(name, '')) for name in SETTINGS_SHOWN]
    lines.append('firmware_version: %s' % firmware_version)
    if clock is not None:
        lines.append('clock: %s' % clock)
    return '\n'.join(lines) + '\n'


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._before = None
        self._report = {}
        self._supports_check_mode = True
        self._supports_async = False

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        result['changed'] = False
        try:
            _, args = self.validate_argument_spec(
                argument_spec=ARGUMENT_SPEC,
                required_by={'firmware_version': 'firmware'})
        except AnsibleActionFail as e:
            result.update(failed=True, msg=str(e), failure_class='usage')
            return result
        self._report = result
        try:
            self._bring(args)
        except Failure as f:
            result.update(f.result())
            # A failure shows what matters: the class, the message, what did get done.
            for key in ('commands', 'written', 'clock', 'firmware_updated', 'test_image'):
                if not result.get(key):
                    result.pop(key, None)
        self._finish_diff(result)
        return result

    def _bring(self, args):
        r = self._report
        for option in ('timeout', 'busy_retries', 'busy_delay', 'test_image_wait'):
            if args[option] < 0:
                raise Failure('usage', '%s must not be negative' % option)
        wanted = wanted_settings(args['settings'])
        clock = args['clock']
        if clock is not None:
            check_clock(clock)
        check = bool(self._task.check_mode)
        ctl = Q70ctl(self, path=args['q70ctl'], timeout=args['timeout'],
                     busy_retries=args['busy_retries'], busy_delay=args['busy_delay'])
        r['commands'] = ctl.commands
        r['written'] = {}
        r['clock'] = None
        r['firmware_updated'] = False
        r['test_image'] = None

        device = self._pick_device(ctl, args['device'])
        board = ctl.info(device)
        self._before = board
        r['device'] = device or board.get('device')
        r['settings'] = dict(board['settings'])
        r['firmware_version'] = board.get('firmware_version')

        # The firmware first, as a new firmware may bring settings of its own; its file is
        # checked on the host before a byte of it goes to the board.
        firmware = args['firmware']
        if firmware:
            expected = args['firmware_version']
            checked = None
            if expected is None:
                checked = self._check_firmware(ctl, firmware)
                expected = checked.get('header', '')
                if not expected.strip():
                    raise Failure('bad-file', '%s carries no version in its S0 header; give firmware_version'
                                  % firmware, step='firmware-check')
            r['firmware_wanted'] = expected
            if (board.get('firmware_version') or '').strip() != expected.strip():
                if checked is None:
                    self._check_firmware(ctl, firmware)
                ctl.commands.append(ctl.shown(['update', firmware], [device]))
                if check:
                    r['changed'] = True
                    r['firmware_version'] = expected
                else:
                    doc = ctl.document(['update', firmware], 'update', device)
                    r['changed'] = True
                    r['firmware_updated'] = True
                    board = ctl.info(device, step='read-back')
                    r['settings'] = dict(board['settings'])
                    r['firmware_version'] = board.get('firmware_version') or doc.get('firmware-version')
                    if (r['firmware_version'] or '').strip() != expected.strip():
                        raise Failure('mismatch', 'after the update the board reports firmware %r, not %r'
                                      % (r['firmware_version'], expected), step='read-back')

        differing = {n: w for n, w in wanted.items() if board['settings'].get(n) != w}
        if differing or clock is not None:
            # The board's write always carries the clock: without one of the task's own,
            # the host's time goes with the settings.
            when = clock or 'now'
            words = ['%s=%s' % (n, wanted[n]) for n in SETTINGS if n in wanted]
            set_args = ['set'] + words + ['--time', when]
            ctl.commands.append(ctl.shown(set_args, [device]))
            r['written'] = differing
            r['clock'] = when
            if check:
                r['changed'] = True
                r['settings'] = dict(board['settings'], **wanted)
            else:
                self._write(ctl, device, set_args, wanted, board)

        if args['test_image']:
            image_args = ['test-image', '-o', args['test_image'], '--wait', str(args['test_image_wait'])]
            if check:
                r['msg'] = 'check mode: the test image is not waited for'
            else:
                doc = ctl.document(image_args, 'test-image', device)
                r['test_image'] = {
                    'path': doc.get('bmp') or args['test_image'],
                    'width': doc.get('width'),
                    'height': doc.get('height'),
                }

    def _pick_device(self, ctl, device):
        if device:
            if device.strip().lower() == 'all':
                raise Failure('usage', 'device: board takes one board; loop over board_info for all of them')
            return device
        found = ctl.list_boards()
        if found is None:
            return None  # q70ctl cannot list here: its own default board
        if not found:
            raise Failure('no-device', 'q70ctl list finds no board on this host; name one with device',
                          step='list')
        if len(found) > 1:
            raise Failure('ambiguous', 'this host has %d boards, name one with device: %s'
                          % (len(found), ', '.join(found)), step='list')
        return found[0]

    def _check_firmware(self, ctl, firmware):
        outcome = ctl.run(['firmware-check', firmware, '--json'])
        docs = [d for d in outcome.documents if isinstance(d, dict) and 'valid' in d]
        failure = outcome.failure('firmware-check')
        if docs and not docs[0].get('valid'):
            bad = ', '.join(str(n) for n in (docs[0].get('bad-lines') or [])[:10])
            if failure is None or failure.failure_class != 'bad-file':
                failure = Failure('bad-file', '%s is not a firmware file q70ctl can send (bad lines: %s)'
                                  % (firmware, bad or 'none listed'), rc=outcome.rc, step='firmware-check')
            failure.msg += '; nothing was sent to the board'
        if failure:
            raise failure
        if not docs:
            raise Failure('bad-output', '%s printed no report' % outcome.command, step='firmware-check')
        return docs[0]

    def _write(self, ctl, device, set_args, wanted, board):
        r = self._report
        try:
            ctl.document(set_args, 'set', device)
        except Failure as failure:
            # A refusal may come after some of the write went through (the clock comes
            # last): tell what the board holds now.
            if failure.failure_class == 'refused':
                try:
                    after = ctl.info(device, step='read-back')
                    r['settings'] = dict(after['settings'])
                    r['changed'] = after['settings'] != board['settings']
                except Failure:
                    pass
            raise failure
        r['changed'] = True
        after = ctl.info(device, step='read-back')
        r['settings'] = dict(after['settings'])
        kept = ['%s=%s (wanted %s)' % (n, after['settings'].get(n), w)
                for n, w in wanted.items() if after['settings'].get(n) != w]
        if kept:
            raise Failure('not-kept', 'the board acknowledged the write but keeps %s' % ', '.join(kept),
                          device=device, step='read-back')

    def _finish_diff(self, result):
        before = self._before
        if not self._task.diff or before is None:
            return
        header = result.get('device') or 'the host\'s board'
        result['diff'] = {
            'before_header': header,
            'after_header': header,
            'before': _state_text(before['settings'], before.get('firmware_version'),
                                  '(cannot be read)' if result.get('clock') else None),
            'after': _state_text(result.get('settings', {}), result.get('firmware_version'),
                                 result.get('clock')),
        }
