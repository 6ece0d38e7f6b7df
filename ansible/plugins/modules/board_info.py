# -*- coding: utf-8 -*-
# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
#
# The documentation of q70.utility.board_info. The work is done on the controller by the
# action plugin of the same name (plugins/action/board_info.py), which runs q70ctl on the
# managed host through the host's connection.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: board_info
short_description: Read every Q-70 copy board of a host
version_added: 1.0.0
description:
  - Reads the Q-70 copy boards attached to the managed host, or those named in
    C(devices), with one C(q70ctl info --json) for all of them, and returns what each
    board reports; the boards are read in parallel.
  - Never writes to a board, and works the same in check mode.
  - Runs C(q70ctl) on the managed host, which must have it installed. The managed host
    needs no Python.
  - Without C(devices) the boards are those C(q70ctl list) finds on USB. Where q70ctl
    cannot list boards (a build without USB, as on Windows), the result is q70ctl's
    default board, or no board when that cannot be opened.
  - One board that cannot be read fails the task; the boards that could be read are
    still returned in C(boards), and C(errors) tells what happened to each of the others.
options:
  devices:
    description:
      - The boards to read, as q70ctl's C(--device) takes them (C(usb:1-4.2),
        C(unix:/run/board.sock), ...).
      - Without it, every board on USB.
    type: list
    elements: str
  busy_retries:
    description: How many times to read a board again, C(busy_delay) seconds apart, while another program holds it.
    type: int
    default: 3
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.flow
  - q70.utility.q70ctl
attributes:
  check_mode:
    support: full
    details: Reads the boards as in a normal run; it never changes anything.
  diff_mode:
    support: none
  platform:
    platforms: posix, windows
notes:
  - Windows hosts are reached through a PowerShell shell; that path has not been tried
    against a Windows host yet.
seealso:
  - module: q70.utility.board
author:
  - Q-70 utility developers
'''

EXAMPLES = r'''
- name: Every board on the USB of each PC
  q70.utility.board_info:
  register: found

- name: Which boards run which firmware
  ansible.builtin.debug:
    msg: "{{ item.device }} ({{ item.serial | default('no serial') }}): {{ item.firmware_version }}, paper {{ item.settings.paper }}"
  loop: "{{ found.boards }}"

- name: Two boards served on sockets
  q70.utility.board_info:
    devices:
      - unix:/run/q70/room-a.sock
      - unix:/run/q70/room-b.sock
  register: found

- name: Boards that still print without time stamps
  ansible.builtin.debug:
    msg: "{{ found.boards | selectattr('settings.time-stamp', 'equalto', 'disable') | map(attribute='device') | list }}"
'''

RETURN = r'''
boards:
  description:
    - One entry per board read, in the order of their addresses, with every field of
      C(q70ctl info --json) (names in snake case), the five settings and the address.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: The board's address, as q70ctl's C(--device) takes it.
      type: str
      sample: usb:1-4.2
    port:
      description: The bus and port path of a USB board.
      type: str
      returned: on USB
      sample: 1-4.2
    serial:
      description: The serial number of a USB board, empty when it has none.
      type: str
      returned: on USB
      sample: B0041
    firmware_version:
      description: The firmware version the board reports.
      type: str
      sample: Q70 Ver 1.20
    settings:
      description: The five settings as q70ctl names them (C(time-stamp), C(margin), C(paper), C(print-mode), C(save-mode)), with their words.
      type: dict
      sample: {"time-stamp": "enable", "margin": "disable", "paper": "a4", "print-mode": "original", "save-mode": "original"}
    device_type:
      description: The board's device-type letter.
      type: str
      sample: W
    info_word_1:
      description: A field of the board's device information (as C(info_word_2), C(info_byte), C(info_long_1), C(info_long_2)).
      type: int
      sample: 288
    info_flag:
      description: The flag of the device information.
      type: bool
    info_text:
      description: The text of the device information.
      type: str
      sample: Q-70 copy board
    device_state:
      description: The state in the board's status answer (1 ready, 0 a test image is offered, 2 to 6, 15 and 16 busy).
      type: int
      sample: 1
    status_flag_a:
      description: A flag of the status answer (as C(status_flag_b)).
      type: bool
errors:
  description: The boards that could not be read.
  returned: when a board could not be read
  type: list
  elements: dict
  contains:
    device:
      description: The board's address.
      type: str
    failure_class:
      description: The class q70ctl gave (C(no-device), C(timeout), C(busy), C(lost), ...).
      type: str
    msg:
      description: q70ctl's message.
      type: str
    rc:
      description: q70ctl's exit status for that board.
      type: int
failure_class:
  description: The class of the first board that could not be read.
  returned: failure
  type: str
  sample: timeout
'''

from ansible.module_utils.basic import AnsibleModule


def main():
    # Reached only when the action plugin is not: the module cannot work without it.
    module = AnsibleModule(argument_spec={}, supports_check_mode=True, bypass_checks=True)
    module.fail_json(msg='q70.utility.board_info runs on the controller through its action plugin')


if __name__ == '__main__':
    main()
