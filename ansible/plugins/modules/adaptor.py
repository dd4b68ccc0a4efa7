#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: adaptor
short_description: Give one sign's serial-to-Ethernet adaptor its IP address
description:
  - Runs C(netrika-cli setup) on the site host for one adaptor, the same run as
    pressing Setup in the Netrika window.
  - Asks first with C(netrika-cli setup --check), which sends nothing but ARP,
    who answers at I(ip). An adaptor that already answers there with its own
    MAC is in place, and nothing more is done unless I(force) is set.
  - All the checks, the pacing and the dialogue with the adaptor are the
    program's; this module only starts it and reads its JSON lines.
version_added: 1.0.4
author:
  - Netrika developers (!UNKNOWN)
extends_documentation_fragment:
  - netrika.fleet.cli
options:
  mac:
    description:
      - The adaptor's MAC address, as printed on its label.
      - Six hexadecimal pairs joined by dashes, colons or nothing.
    type: str
    required: true
  ip:
    description:
      - The IP address to give the adaptor.
    type: str
    required: true
  mask:
    description:
      - The subnet mask, contiguous, from /8 to /30.
    type: str
    required: true
  gateway:
    description:
      - The default gateway, on the subnet of I(ip); C(0.0.0.0) for none.
    type: str
    required: true
  current_ip:
    description:
      - The address the adaptor already has. It is reached there instead of by
        its family's route, after checking that the device answering ARP
        there is the adaptor of I(mac). It takes on I(ip) when it is power
        cycled.
      - The check asks for the adaptor at this address too.
    type: str
  sign_test:
    description:
      - Put the test message on the sign after the setup (answer Yes to the
        "Test IP Address" question). The task then fails if the message could
        not be sent.
      - Not used by the check, nor in check mode.
    type: bool
    default: false
  force:
    description:
      - Run the setup even when the adaptor is in place already, for example
        to set a changed mask or gateway.
      - An adaptor in place is reached at I(ip) (as with I(current_ip)) when
        I(current_ip) is not given, since nothing else reaches it there and
        the run would otherwise find its own address taken.
    type: bool
    default: false
  log:
    description:
      - A file on the site host for the run's stages and its whole dialogue
        with the adaptor, with times to the millisecond (C(--log)).
      - An absolute path is best; a relative one is taken from the module's
        working directory. Not used by the check, nor in check mode.
    type: path
notes:
  - Supports check mode. Check mode runs only the check (ARP only) and says
    what a run would do.
  - An adaptor that answers at I(ip) with its own MAC counts as in place; its
    mask and gateway are not read back. Use I(force) to set them again.
  - The run takes about a minute (MACs beginning 00-80-a3) or two (00-20-4a).
seealso:
  - module: netrika.fleet.batch
  - module: netrika.fleet.scan
'''

EXAMPLES = r'''
- name: Give the platform sign its address
  netrika.fleet.adaptor:
    mac: 00-80-a3-61-63-dd
    ip: 10.1.2.16
    mask: 255.255.255.0
    gateway: 10.1.2.254
    log: /var/tmp/netrika/00-80-a3-61-63-dd.log

- name: Move an adaptor that already has an address, and test the sign
  netrika.fleet.adaptor:
    mac: 00-20-4a-12-34-56
    current_ip: 10.1.2.3
    ip: 10.1.9.40
    mask: 255.255.255.0
    gateway: 10.1.9.254
    sign_test: true

- name: Only say what a run would do
  netrika.fleet.adaptor:
    mac: 00-80-a3-61-63-dd
    ip: 10.1.2.16
    mask: 255.255.255.0
    gateway: 10.1.2.254
  check_mode: true
  register: would
'''

RETURN = r'''
state:
  description:
    - What the check found before anything was done, the C(state) of its
      C(check) event.
    - C(to-assign) (nobody answers at I(ip)), C(in-place) (the adaptor of
      I(mac) answers there), C(taken) (another MAC answers there),
      C(not-found) (the adaptor does not answer at I(current_ip)) or
      C(refused) (the run could not start, or a value was refused).
  returned: always
  type: str
  sample: to-assign
result:
  description:
    - The run's result word, C(succeeded), C(failed), C(interrupted) or
      C(refused), from its C(finished) event.
    - C(not run) when the check alone decided (in place, check mode, or a
      state that fails the task).
  returned: always
  type: str
  sample: succeeded
reason:
  description:
    - One word for programs to act on. From the run's C(finished) event when
      it ran (C(assigned), C(address-taken), C(not-checked), C(no-answer), C(stalled),
      C(not-found), C(other-device), C(off-segment), C(sign-test),
      C(interrupted), C(refused), C(failed)); otherwise the check's reason
      (C(to-assign), C(in-place), C(address-taken), C(not-found),
      C(other-device), C(off-segment), C(helper)).
  returned: always
  type: str
  sample: assigned
status:
  description:
    - The text for people. The run's last status text as the window shows it,
      or the check's text when no run was made.
  returned: always
  type: str
  sample: Setup IP address is successful, reboot adaptor to take effect.
seconds:
  description:
    - How long the run took, in seconds; 0 when no run was made.
  returned: always
  type: float
  sample: 51.2
events:
  description:
    - The program's events as it printed them under C(--json), without the
      stages and the dialogue (those are in I(log)); the check's C(check)
      event first.
  returned: always
  type: list
  elements: dict
  sample:
    - event: check
      time: 0.0
      state: to-assign
      reason: to-assign
      text: "10.1.2.16 is free: adaptor 00-80-a3-61-63-dd would be given it"
      exit: 0
    - {"event": "started", "time": 0.0, "mac": "00-80-a3-61-63-dd", "ip": "10.1.2.16"}
    - event: finished
      time: 51.2
      result: succeeded
      reason: assigned
      status: Setup IP address is successful, reboot adaptor to take effect.
      exit: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.netrika.fleet.plugins.module_utils.netrika_cli import (
    CLI_OPTIONS,
    cli_program,
    last_event,
    quiet_events,
    run_cli,
    why_not,
)

# States the check finds that no run could mend.
FAILED_STATES = ('taken', 'not-found', 'refused')


def main():
    options = dict(
        mac=dict(type='str', required=True),
        ip=dict(type='str', required=True),
        mask=dict(type='str', required=True),
        gateway=dict(type='str', required=True),
        current_ip=dict(type='str'),
        sign_test=dict(type='bool', default=False),
        force=dict(type='bool', default=False),
        log=dict(type='path'),
    )
    options.update(CLI_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    p = module.params

    program = cli_program(module)
    values = ['--mac', p['mac'], '--ip', p['ip'], '--mask', p['mask'], '--gateway', p['gateway']]
    current = ['--current-ip', p['current_ip']] if p['current_ip'] else []

    # The check sends nothing but ARP; --sign-test and --log mean nothing to it.
    rc, events, err = run_cli(module, [program, 'setup'] + values + current + ['--check', '--json'])
    check = last_event(events, 'check')
    if check is None:
        why = why_not(rc, events, err)
        module.fail_json(msg='refused: ' + why, state='refused', result='not run', reason='refused',
                         status=why, seconds=0.0, events=quiet_events(events), rc=rc)
    state = check.get('state', '')
    outcome = dict(state=state, result='not run', reason=check.get('reason', ''),
                   status=check.get('text', ''), seconds=0.0, events=quiet_events(events))

    if state in FAILED_STATES:
        module.fail_json(msg='{0} ({1}): {2}'.format(state, outcome['reason'], outcome['status']),
                         changed=False, rc=rc, **outcome)
    if state == 'in-place' and not p['force']:
        module.exit_json(changed=False, **outcome)
    if state not in ('to-assign', 'in-place'):
        module.fail_json(msg='netrika-cli setup --check found an unknown state: {0}'.format(state),
                         changed=False, **outcome)
    if module.check_mode:
        module.exit_json(changed=True, **outcome)

    # An adaptor in place answers at ip, whatever current_ip says: once it has
    # moved, the old address is nobody's.
    if state == 'in-place':
        current = ['--current-ip', p['ip']]
    argv = [program, 'setup'] + values + current
    if p['sign_test']:
        argv.append('--sign-test')
    if p['log']:
        argv += ['--log', p['log']]
    argv.append('--json')
    rc, run_events, err = run_cli(module, argv)
    outcome['events'] += quiet_events(run_events)
    finished = last_event(run_events, 'finished')
    if finished is None:
        module.fail_json(msg='failed: ' + why_not(rc, run_events, err), changed=False, rc=rc, **outcome)

    outcome.update(result=finished.get('result', ''), reason=finished.get('reason', ''),
                   status=finished.get('status', ''), seconds=float(finished.get('time', 0.0)))
    # A sign test is only tried once the adaptor has been given its address.
    changed = outcome['reason'] in ('assigned', 'sign-test')
    if outcome['result'] != 'succeeded' or rc != 0:
        module.fail_json(msg='{0} ({1}): {2}'.format(outcome['result'], outcome['reason'], outcome['status']),
                         changed=changed, rc=rc, **outcome)
    module.exit_json(changed=changed, **outcome)


if __name__ == '__main__':
    main()
