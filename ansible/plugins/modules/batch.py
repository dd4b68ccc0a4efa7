#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: batch
short_description: Give every adaptor of a CSV file its IP address
description:
  - Runs C(netrika-cli batch) on the site host for a batch file of adaptors,
    one setup for each row, several at once.
  - Every row is checked by the program before anything is sent; a bad
    value, a repeated MAC or a repeated IP address fails the task with each
    problem named, and nothing is sent.
  - All the checks, the scheduling and the dialogue with each adaptor are the
    program's; this module only starts it and reads its JSON lines.
version_added: 1.0.4
author:
  - Netrika developers (!UNKNOWN)
extends_documentation_fragment:
  - netrika.fleet.cli
options:
  src:
    description:
      - The batch file on the site host, CSV with a header line naming the
        columns C(mac), C(ip), C(mask), C(gateway) and, optionally,
        C(sign_test), C(current_ip) and C(name). Other columns (a location
        ...) are carried into the report.
      - Exactly one of I(src), I(content) and I(content_base64) is given.
    type: path
  content:
    description:
      - The batch file itself, given to the program on its standard input
        (C(batch -)), for example where the file is not on the site host yet
        in check mode.
      - Exactly one of I(src), I(content) and I(content_base64) is given.
    type: str
  content_base64:
    description:
      - The batch file's bytes, base64-encoded, given to the program on its
        standard input as they are (C(batch -)). For a sheet that is not
        UTF-8 (UTF-16, Windows-1252), which the program reads as it reads
        such a file but which cannot pass through I(content) as text.
      - Exactly one of I(src), I(content) and I(content_base64) is given.
    type: str
  report:
    description:
      - Write the report, CSV, to this file on the site host, a row as each
        row ends, then in the order of the file. A report is itself a batch
        file, and the input of I(resume).
      - In check mode the program checks that it can be written.
    type: path
  log_dir:
    description:
      - Write each row's stages and its whole dialogue with the adaptor to
        C(LOG_DIR/<mac>.log) on the site host; the folder is made if need be.
      - Not used in check mode (the folder would be made).
    type: path
  jobs:
    description:
      - Rows run at once, from 1 to 256. The program's own default (16) when
        not given.
    type: int
  resume:
    description:
      - An earlier report. The rows it lists as succeeded or in place with
        the same MAC, IP address, mask, gateway and sign test are not run
        again and are returned with the result C(done before).
    type: path
  force:
    description:
      - Give adaptors already in place the row's values again, reached at
        their address.
    type: bool
    default: false
  delimiter:
    description:
      - The separator of the batch file's fields, for a file whose header
        does not tell it. Otherwise it is found from the header line (comma,
        semicolon or tab) or a first line C(sep=;).
    type: str
    choices: [',', ';', '|', 'tab']
  site:
    description:
      - Run only the rows whose column C(site) holds this name exactly
        (C(batch --site)), so that one file serves the adaptors of many
        sites, each site's host running its own. The other rows are left
        out before any check.
      - A file without the column, or with no row for this site, fails the
        task.
    type: str
notes:
  - Supports check mode, which runs C(netrika-cli batch --check). It sends
    nothing but ARP, reads and checks every row, checks that the network
    helper can be started with what it needs, that each row's address (or
    current_ip) is on a segment of this host, and that I(report) can be
    written, then predicts each row (C(state) in I(rows)).
  - In check mode the task reports changed when some row would be given its
    address or its values (state C(to-assign) or C(to-apply)); with C(--diff)
    it lists those rows.
  - Idempotent from what the adaptors say. Each row asks by ARP first, and an
    adaptor that answers at its address with its own MAC is in place, left
    alone and returned with the result C(in place), which is not a change
    and not a failure. I(resume) only saves those questions, and a row whose
    mask, gateway or sign test changed since is applied again.
  - The task reports changed only for rows it gave an address or values.
  - The last rows of an interrupted batch are not run; the program counts
    them (I(counts.not_run)) but names no line for them.
seealso:
  - module: netrika.fleet.adaptor
  - module: netrika.fleet.scan
'''

EXAMPLES = r'''
- name: Give the depot's signs their addresses, eight at once
  netrika.fleet.batch:
    src: /var/tmp/netrika/rows.csv
    report: /var/tmp/netrika/report.csv
    log_dir: /var/tmp/netrika/logs
    jobs: 8
  register: depot

- name: Carry on after an interrupted batch, with a new report
  netrika.fleet.batch:
    src: /var/tmp/netrika/rows.csv
    resume: /var/tmp/netrika/report.csv
    report: /var/tmp/netrika/report2.csv

- name: A sheet saved with semicolons whose header does not tell it
  netrika.fleet.batch:
    src: /var/tmp/netrika/line4.csv
    delimiter: ';'

- name: Rows built by the play, checked only
  netrika.fleet.batch:
    content: |
      name,mac,ip,mask,gateway
      Platform 1,00-80-a3-61-63-dd,10.1.2.16,255.255.255.0,10.1.2.254
  check_mode: true
'''

RETURN = r'''
rows:
  description:
    - Every row the program told of, in the order of the file.
    - In a run, from each row's C(started), C(finished) and C(skipped)
      events; in check mode, from its C(row) events (C(line), C(mac), C(ip),
      C(mask), C(gateway), C(sign_test) and C(current_ip) where given, with
      no result).
  returned: always
  type: list
  elements: dict
  contains:
    line:
      description: The row's line in the batch file.
      type: int
    mac:
      description: The MAC, as the window writes it, whatever the file's spelling.
      type: str
    ip:
      description: The address to give the adaptor.
      type: str
    current_ip:
      description: The address the adaptor was reached at, where the row names one.
      type: str
    name:
      description:
        - The row's C(name) column, where the program's events carry it;
          failure messages name the row by it.
      type: str
    result:
      description: C(succeeded), C(failed), C(in place), C(interrupted) or C(done before).
      type: str
    state:
      description:
        - In check mode, what the row would find - C(to-assign), C(to-apply),
          C(in-place), C(taken), C(not-found), C(refused) or C(done-before).
      type: str
    reason:
      description: The reason word, as for the I(reason) that M(netrika.fleet.adaptor) returns.
      type: str
    seconds:
      description: How long the row's run took.
      type: float
    status:
      description: The row's last status text.
      type: str
  sample:
    - line: 2
      mac: 00-80-a3-61-63-dd
      ip: 10.1.2.16
      name: Platform 1
      result: succeeded
      reason: assigned
      seconds: 51.2
      status: Setup IP address is successful, reboot adaptor to take effect.
    - line: 3
      mac: 00-20-4a-12-34-56
      ip: 10.1.2.17
      name: Platform 2
      result: failed
      reason: no-answer
      seconds: 40.3
      status: Setup IP Address Failed.
counts:
  description:
    - The numbers of rows by their result, and the batch's exit status, from
      the program's C(summary) event. Empty in check mode and when the batch
      did not start.
  returned: always
  type: dict
  sample: {"succeeded": 4, "failed": 1, "interrupted": 0, "not_run": 0, "done_before": 0, "exit": 1}
problems:
  description:
    - The problems the program found in the batch file, its values or the
      host, each as printed for people (from its C(problem) events).
  returned: always
  type: list
  elements: str
  sample: ['line 8: ip "999.1.1.1": each octet one to three digits, 0 to 255']
'''

import base64

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.netrika.fleet.plugins.module_utils.netrika_cli import (
    CLI_OPTIONS,
    cli_program,
    events_named,
    fields,
    last_event,
    problem_texts,
    run_cli,
    why_not,
)


def rows_of(events):
    """One dict a row, by its line, from the events that name a line."""
    rows = {}
    for e in events:
        if e.get('event') in ('started', 'finished', 'skipped', 'row', 'check') and 'line' in e:
            rows.setdefault(e['line'], {}).update(fields(e))
    return [rows[line] for line in sorted(rows)]


def failed_rows(rows):
    return [r for r in rows if r.get('result') in ('failed', 'interrupted')]


def main():
    options = dict(
        src=dict(type='path'),
        content=dict(type='str'),
        content_base64=dict(type='str'),
        report=dict(type='path'),
        log_dir=dict(type='path'),
        jobs=dict(type='int'),
        resume=dict(type='path'),
        delimiter=dict(type='str', choices=[',', ';', '|', 'tab']),
        site=dict(type='str'),
        force=dict(type='bool', default=False),
    )
    options.update(CLI_OPTIONS)
    module = AnsibleModule(
        argument_spec=options,
        mutually_exclusive=[('src', 'content', 'content_base64')],
        required_one_of=[('src', 'content', 'content_base64')],
        supports_check_mode=True,
    )
    p = module.params

    argv = [cli_program(module), 'batch', p['src'] if p['src'] else '-']
    if p['jobs'] is not None:
        argv += ['--jobs', str(p['jobs'])]
    if p['report']:
        argv += ['--report', p['report']]
    if p['delimiter']:
        argv += ['--delimiter', p['delimiter']]
    if p['site']:
        argv += ['--site', p['site']]
    if p['resume']:
        argv += ['--resume', p['resume']]
    if p['force']:
        argv.append('--force')
    if module.check_mode:
        argv.append('--check')
    else:
        if p['log_dir']:
            argv += ['--log-dir', p['log_dir']]
    argv.append('--json')

    data = p['content']
    if p['content_base64'] is not None:
        try:
            data = base64.b64decode(p['content_base64'], validate=True)
        except (TypeError, ValueError) as e:
            module.fail_json(msg='content_base64 is not base64: {0}'.format(e))
    rc, events, err = run_cli(module, argv, data=data)
    rows = rows_of(events)
    problems = problem_texts(events)
    outcome = dict(rows=rows, counts={}, problems=problems)

    if module.check_mode:
        # 0: nothing would change; 1: some row would run or fail.
        if rc not in (0, 1) or last_event(events, 'checked') is None:
            module.fail_json(msg='the batch would not start: ' + why_not(rc, events, err), rc=rc, **outcome)
        to_assign = [r for r in rows if r.get('state') in ('to-assign', 'to-apply')]
        if module._diff:
            outcome['diff'] = dict(prepared=''.join(
                'line {0}: {1} {2} -> {3}\n'.format(r.get('line'), r.get('state'), r.get('mac'), r.get('ip'))
                for r in to_assign))
        module.exit_json(changed=bool(to_assign), **outcome)

    summary = last_event(events, 'summary')
    if summary is None:
        module.fail_json(msg='the batch did not start: ' + why_not(rc, events, err), rc=rc, **outcome)
    outcome['counts'] = fields(summary)

    changed = any(e.get('result') == 'succeeded' for e in events_named(events, 'finished'))
    failed = failed_rows(rows)
    if failed or rc != 0:
        said = ['line {0}{1} ({2} at {3}): {4} ({5}): {6}'.format(
            r.get('line'), ' ' + r['name'] if r.get('name') else '', r.get('mac', '?'), r.get('ip', '?'),
            r.get('result'), r.get('reason', ''), r.get('status', '')) for r in failed]
        not_run = outcome['counts'].get('not_run', 0)
        if not_run:
            said.append('{0} rows not run'.format(not_run))
        if not said:
            said.append(why_not(rc, events, err))
        module.fail_json(msg='; '.join(said), changed=changed, rc=rc, **outcome)
    module.exit_json(changed=changed, **outcome)


if __name__ == '__main__':
    main()
