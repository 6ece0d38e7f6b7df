# -*- coding: utf-8 -*-
# Copyright 2026 Q-70 utility developers. All rights reserved.
# SPDX-License-Identifier: LicenseRef-proprietary
#
# The documentation of q70.utility.board. The work is done on the controller by the action
# plugin of the same name (plugins/action/board.py), which runs q70ctl on the managed host
# through the host's connection, so that Linux and Windows hosts take the same path.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: board
short_description: Bring one Q-70 copy board to a wanted state
version_added: 1.0.0
description:
  - Brings one Q-70 copy board, attached to the managed host, to the state a task asks for
    its five settings, its clock and its firmware, and saves its next test image on the host.
  - Runs C(q70ctl) on the managed host, which must have it installed (the q70-utility
    package on Linux, the Windows installer on Windows). Ansible runs on the controller;
    the managed host needs no Python.
  - Reads the board first (C(q70ctl info --json)) and writes only what differs. After a
    write the board is read again and must hold what was written; after a firmware update
    it must report the version the file carries.
  - The board's clock cannot be read. A task with C(clock) always writes it and always
    reports a change. A task without C(clock) leaves the clock alone unless a setting has
    to be written, because the board's settings write always carries the clock; the clock
    then gets the managed host's current time.
  - A failure sets C(failure_class) to the class q70ctl gave (C(busy), C(refused),
    C(lost), C(timeout), C(no-device), C(bad-file), ...) and returns q70ctl's message in
    C(msg) and its exit status in C(rc).
options:
  device:
    description:
      - The board, as q70ctl's C(--device) takes it, for example C(usb:1-4.2),
        C(unix:/run/board.sock) or on Windows C(\\.\CPYBRD0).
      - Without it, the host's only board (the one C(q70ctl list) finds). A host with
        several boards fails and names them; a host where q70ctl cannot list boards
        (no USB support, as on Windows) uses q70ctl's default board.
    type: str
  settings:
    description:
      - The settings the board is to have. Any of the five; those not given keep the
        board's values.
      - Written only when one differs from what the board reports. All five and the
        clock are written together, as the board takes them, then read back.
    type: dict
    suboptions:
      time_stamp:
        description: The time stamp on the board's pictures. C(enable) or C(disable), or a boolean.
        type: raw
        aliases: [time-stamp]
      margin:
        description: The binding margin. C(enable) or C(disable), or a boolean.
        type: raw
      paper:
        description: The paper size. C(a4) or C(letter).
        type: raw
      print_mode:
        description: The printed image, C(original) or C(match) (match the paper size).
        type: raw
        aliases: [print-mode]
      save_mode:
        description: The saved image, C(original) or C(match) (match the paper size).
        type: raw
        aliases: [save-mode]
  clock:
    description:
      - The date and time to set the board's clock to, C(now) (the managed host's local
        time) or C(YYYY-MM-DDTHH:MM).
      - The clock cannot be read back, so a task with C(clock) always writes and always
        reports a change. It is written together with the five settings.
    type: str
  firmware:
    description:
      - A firmware file (Motorola S-records) on the managed host. The board is updated
        from it only when it reports another version than C(firmware_version).
      - The file is checked on the host (C(q70ctl firmware-check)) before any of it is
        sent; a damaged file fails the task with C(failure_class) C(bad-file) and the
        board is not touched.
      - After the update the board's version is read again and must be C(firmware_version).
    type: str
  firmware_version:
    description:
      - The version the board reports once it runs the firmware of C(firmware), for
        example C(Q70 Ver 1.21).
      - Without it, the text of the file's S0 header record, as C(q70ctl firmware-check)
        reports it.
    type: str
  test_image:
    description:
      - A path on the managed host to save the board's next test image to, as BMP. The
        board offers a test image when its button is pressed; the task waits for it
        C(test_image_wait) seconds.
      - Saving a test image writes nothing to the board and is not reported as a
        change. In check mode nothing is waited for or saved.
      - Use M(ansible.builtin.fetch) to bring the file to the controller.
    type: str
  test_image_wait:
    description: How long to wait for the test image, in seconds.
    type: int
    default: 60
  busy_retries:
    description:
      - How many times to try again, C(busy_delay) seconds apart, when another program
        holds the board (q70ctl's class C(busy)) before the task fails as C(busy).
      - C(0) fails at once.
    type: int
    default: 3
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.flow
  - q70.utility.q70ctl
attributes:
  check_mode:
    support: full
    details:
      - Reads the board and checks the firmware file, writes nothing and reports the
        change it would make; C(commands) lists the q70ctl commands it would run. No test
        image is waited for.
  diff_mode:
    support: full
    details:
      - Before and after of every setting and of the firmware version, with the device as
        header; a clock that is written shows as C(clock).
  platform:
    platforms: posix, windows
notes:
  - Each step is one run of q70ctl, which holds the board's lock while it runs; another
    program (a second play, q70ctl in a shell, the utility's window) cannot get in
    between the exchanges of a step and gets the board once the step is over. A step
    that finds the board busy is tried again (C(busy_retries)).
  - The steps run in this order; the task stops at the first that fails. Read the
    board; check the firmware file; update the firmware; read again; write the
    settings and the clock; read again; save the test image.
  - Windows hosts are reached through a PowerShell shell (winrm, psrp, or ssh with
    C(ansible_shell_type=powershell)); the task's C(environment) is set for q70ctl on
    both kinds of host. The Windows path has not been tried against a Windows host yet.
seealso:
  - module: q70.utility.board_info
  - module: ansible.builtin.fetch
author:
  - Q-70 utility developers
'''

EXAMPLES = r'''
- name: A4 paper and time stamps on the room's only board
  q70.utility.board:
    settings:
      paper: a4
      time_stamp: true

- name: Every setting of one board named by its USB port, with the clock
  q70.utility.board:
    device: usb:1-4.2
    settings:
      time_stamp: enable
      margin: disable
      paper: letter
      print_mode: match
      save_mode: original
    clock: now

- name: Firmware 1.21 where a board runs another version
  q70.utility.board:
    device: "{{ item.device }}"
    firmware: /var/cache/q70/Q70V121.mot
    firmware_version: Q70 Ver 1.21
  loop: "{{ found.boards }}"
  loop_control:
    label: "{{ item.device }}"

- name: The next test image of each board, waiting up to two minutes
  q70.utility.board:
    device: "{{ item.device }}"
    test_image: /tmp/q70-{{ item.device | regex_replace('[^A-Za-z0-9.-]+', '_') }}.bmp
    test_image_wait: 120
  loop: "{{ found.boards }}"

- name: A board another program may be using; wait for it up to a minute
  q70.utility.board:
    device: usb:1-2
    settings:
      margin: false
    busy_retries: 12
    busy_delay: 5

- name: On Windows, q70ctl.exe from a folder of its own
  q70.utility.board:
    q70ctl: D:\Tools\Q-70\q70ctl.exe
    settings:
      paper: letter
'''

RETURN = r'''
device:
  description: The board's address.
  returned: always, once the board is chosen
  type: str
  sample: usb:1-4.2
settings:
  description:
    - The board's five settings after the task, as q70ctl names them and with its words;
      in check mode the settings the board would have.
  returned: once the board has been read
  type: dict
  sample: {"time-stamp": "enable", "margin": "disable", "paper": "a4", "print-mode": "original", "save-mode": "original"}
firmware_version:
  description: The firmware version the board reports after the task (in check mode, would report).
  returned: once the board has been read
  type: str
  sample: Q70 Ver 1.21
firmware_wanted:
  description: The version the task asked for, from C(firmware_version) or the file's S0 header.
  returned: when C(firmware) is given
  type: str
  sample: Q70 Ver 1.21
firmware_updated:
  description: Whether the firmware was sent to the board.
  returned: success
  type: bool
written:
  description: The settings that differed and were written (would be, in check mode), with their new words.
  returned: success
  type: dict
  sample: {"paper": "letter"}
clock:
  description: The clock sent with the write (C(now) or the date and time), or null when nothing was written.
  returned: success
  type: str
  sample: now
test_image:
  description: The test image saved on the managed host.
  returned: when C(test_image) is given and not in check mode
  type: dict
  contains:
    path:
      description: Where the BMP file is, on the managed host.
      type: str
      sample: /tmp/q70-usb_1-4.2.bmp
    width:
      description: Its width in dots.
      type: int
      sample: 2160
    height:
      description: Its height in dots.
      type: int
      sample: 1504
commands:
  description: The q70ctl commands that write to the board, as run (in check mode, as they would be run).
  returned: success, and on failure when a write was begun
  type: list
  elements: str
  sample: ["q70ctl --device usb:1-4.2 set paper=letter time-stamp=enable --time now"]
failure_class:
  description:
    - Why the task failed. The class q70ctl gave (C(usage), C(no-device), C(timeout),
      C(busy), C(refused), C(lost), C(bad-answer), C(bad-file), C(io)), or one of the
      module's own.
    - C(not-kept) the board acknowledged a settings write but reports its old value;
      C(mismatch) after an update the board reports another firmware version;
      C(ambiguous) no C(device) on a host with several boards; C(missing) q70ctl
      could not be run; C(bad-output) q70ctl printed something this collection cannot
      read.
  returned: failure
  type: str
  sample: refused
step:
  description: The step that failed, C(list), C(read), C(firmware-check), C(update), C(set), C(read-back) or C(test-image).
  returned: failure
  type: str
  sample: set
rc:
  description: q70ctl's exit status (0 done, 2 usage, 3 no device, 4 timeout, 5 busy, 6 refused, 7 lost, 1 other).
  returned: failure of a q70ctl run
  type: int
  sample: 6
msg:
  description: q70ctl's message on failure.
  returned: failure
  type: str
  sample: The board refused the date and time.
'''

from ansible.module_utils.basic import AnsibleModule


def main():
    # Reached only when the action plugin is not: the module cannot work without it.
    module = AnsibleModule(argument_spec={}, supports_check_mode=True, bypass_checks=True)
    module.fail_json(msg='q70.utility.board runs on the controller through its action plugin')


if __name__ == '__main__':
    main()
