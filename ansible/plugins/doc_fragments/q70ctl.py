# -*- coding: utf-8 -*-
# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
#
# What q70.utility.board and q70.utility.board_info share: how they reach q70ctl and how
# they wait for a board.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  q70ctl:
    description:
      - The path of q70ctl on the managed host.
      - Without it, C(q70ctl) from the PATH on Linux and other POSIX hosts,
        C(%ProgramFiles%\Q-70 Utility\bin\q70ctl.exe) (where the installer puts it) on Windows.
    type: str
  timeout:
    description: The longest wait for one answer of a board, in milliseconds (q70ctl's C(--timeout)).
    type: int
    default: 5000
  busy_delay:
    description: The pause before each retry of a busy board, in seconds.
    type: int
    default: 2
attributes:
  action:
    support: full
  async:
    support: none
  bypass_host_loop:
    support: none
'''
