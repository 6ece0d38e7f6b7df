# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
"""q70.utility.board_info: every board of a host as q70ctl info reads it; changes nothing."""

from __future__ import annotations

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase

from ansible_collections.q70.utility.plugins.plugin_utils.q70ctl import (
    COMMON_ARGUMENTS, Failure, Q70ctl)

ARGUMENT_SPEC = dict(
    devices=dict(type='list', elements='str'),
    **COMMON_ARGUMENTS,
)


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._supports_check_mode = True
        self._supports_async = False

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        result['changed'] = False
        try:
            _, args = self.validate_argument_spec(argument_spec=ARGUMENT_SPEC)
        except AnsibleActionFail as e:
            result.update(failed=True, msg=str(e), failure_class='usage')
            return result
        try:
            result.update(self._read(args))
        except Failure as f:
            result.update(f.result())
        return result

    def _read(self, args):
        for option in ('timeout', 'busy_retries', 'busy_delay'):
            if args[option] < 0:
                raise Failure('usage', '%s must not be negative' % option)
        ctl = Q70ctl(self, path=args['q70ctl'], timeout=args['timeout'],
                     busy_retries=args['busy_retries'], busy_delay=args['busy_delay'])
        devices = args['devices']
        if devices is None:
            devices = ctl.list_boards()
            if devices is None:
                # No listing here (a q70ctl without USB, as on Windows): its default board.
                try:
                    return {'boards': [ctl.info(None)]}
                except Failure as f:
                    if f.failure_class != 'no-device':
                        raise
                    return {'boards': [], 'msg': 'no board found: %s' % f.msg}
        if not devices:
            return {'boards': []}
        return self._report(*ctl.boards_infos(devices))

    @staticmethod
    def _report(boards, failures):
        result = {'boards': sorted(boards, key=lambda b: str(b.get('device')))}
        failures = sorted(failures, key=lambda f: str(f.device))
        if failures:
            result['failed'] = True
            result['errors'] = [f.result() for f in failures]
            for e in result['errors']:
                e.pop('failed', None)
            first = failures[0]
            result['failure_class'] = first.failure_class
            result['rc'] = first.rc
            result['msg'] = '; '.join(('%s: ' % f.device if f.device else '') + '%s (%s)' % (f.msg, f.failure_class)
                                      for f in failures)
        return result
