# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT
#
# The modules run over what netrika-cli printed: the JSON lines under
# recorded/ were written by the real program against the project's simulated
# adaptors, in network namespaces of their own (record.sh beside this file
# made them: each state a check finds, runs that succeed and fail, batches
# failed, interrupted and resumed, scans found, cancelled and refused). Each
# case runs a module's main() with netrika-cli's runs answered from those
# files, and checks what the module hands back and the argument vectors it
# ran.
#
#   /usr/bin/python3 -m unittest discover -s ansible/tests/unit

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import atexit
import base64
import json
import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
RECORDED = os.path.join(HERE, 'recorded')
COLLECTION = os.path.dirname(os.path.dirname(HERE))

# The collection where Python finds ansible_collections.netrika.fleet.
_ROOT = tempfile.mkdtemp(prefix='netrika-fleet-')
atexit.register(shutil.rmtree, _ROOT, True)
os.makedirs(os.path.join(_ROOT, 'ansible_collections', 'netrika'))
os.symlink(COLLECTION, os.path.join(_ROOT, 'ansible_collections', 'netrika', 'fleet'))
sys.path.insert(0, _ROOT)

from ansible.module_utils import basic  # noqa: E402
from ansible.module_utils.common.text.converters import to_bytes  # noqa: E402
from ansible_collections.netrika.fleet.plugins.modules import adaptor, batch, scan  # noqa: E402

CLI = '/usr/bin/netrika-cli'


def recorded(name, edit=None):
    """What netrika-cli printed (its JSON lines, each edited by edit where
    given) and its exit status, as run_command hands them back."""
    with open(os.path.join(RECORDED, name + '.jsonl')) as f:
        out = f.read()
    if edit:
        out = ''.join(json.dumps(edit(json.loads(line))) + '\n' for line in out.splitlines())
    with open(os.path.join(RECORDED, 'exit-statuses')) as f:
        status = dict(line.split() for line in f if line.strip())
    return int(status[name]), out, 'netrika-cli: what it says for people goes here\n'


class Ended(Exception):
    def __init__(self, failed, result):
        super(Ended, self).__init__(result.get('msg', ''))
        self.failed = failed
        self.result = result


def run_module(module, args, answers, check_mode=False):
    """Runs module.main() with args; each netrika-cli run is answered by the
    next of answers (a recording's name, or its (rc, out, err)). Returns
    (failed, result, runs), each run an (argument vector, keywords) pair."""
    if check_mode:
        args = dict(args, _ansible_check_mode=True)
    runs = []
    pending = [recorded(a) if isinstance(a, str) else a for a in answers]

    def run_command(self, argv, **kwargs):
        runs.append((argv, kwargs))
        return pending.pop(0)

    def exit_json(self, **result):
        raise Ended(False, result)

    def fail_json(self, **result):
        raise Ended(True, result)

    with mock.patch.object(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': args}))), \
            mock.patch.object(basic.AnsibleModule, 'run_command', run_command), \
            mock.patch.object(basic.AnsibleModule, 'get_bin_path', lambda self, name, **kw: '/usr/bin/' + name), \
            mock.patch.object(basic.AnsibleModule, 'exit_json', exit_json), \
            mock.patch.object(basic.AnsibleModule, 'fail_json', fail_json):
        try:
            module.main()
        except Ended as ended:
            return ended.failed, ended.result, runs
    raise AssertionError('the module ended without exit_json or fail_json')


class Runs(unittest.TestCase):
    def assert_runs(self, runs, argvs):
        """The argument vectors exactly; every run without a shell, under
        umask 077 (the logs hold the adaptor's password)."""
        self.assertEqual([run[0] for run in runs], argvs)
        for argv, kwargs in runs:
            self.assertIsInstance(argv, list)
            self.assertFalse(kwargs.get('use_unsafe_shell'))
            self.assertEqual(kwargs.get('umask'), 0o077, argv)


ADAPTOR = dict(mac='0080a36163dd', ip='10.77.100.50', mask='255.255.255.0', gateway='10.77.100.254')
VALUES = ['--mac', '0080a36163dd', '--ip', '10.77.100.50', '--mask', '255.255.255.0', '--gateway', '10.77.100.254']
CHECK = [CLI, 'setup'] + VALUES + ['--check', '--json']
RUN = [CLI, 'setup'] + VALUES


class AdaptorModule(Runs):
    # What the module makes of each state the check finds and each way a
    # run ends; catches a failure handed back as success, or a state that
    # no run could mend taken for one to run.
    # name, extra args, check mode, recorded answers,
    # failed, changed, state, result, reason, text in msg
    CASES = [
        ('ok_assigned', {}, False, ['setup-check-to-assign', 'setup'],
         False, True, 'to-assign', 'succeeded', 'assigned', None),
        ('ok_in_place_untouched', {}, False, ['setup-check-in-place'],
         False, False, 'in-place', 'not run', 'in-place', None),
        ('ok_in_place_forced', {'force': True}, False, ['setup-check-in-place', 'setup'],
         False, True, 'in-place', 'succeeded', 'assigned', None),
        ('ok_check_would_assign', {}, True, ['setup-check-to-assign'],
         False, True, 'to-assign', 'not run', 'to-assign', None),
        ('ok_check_in_place', {}, True, ['setup-check-in-place'],
         False, False, 'in-place', 'not run', 'in-place', None),
        ('error_check_taken', {}, False, ['setup-check-taken'],
         True, False, 'taken', 'not run', 'address-taken', '10.77.150.50 is held by 00-80-a3-15-00-01'),
        ('error_check_taken_in_check_mode', {}, True, ['setup-check-taken'],
         True, False, 'taken', 'not run', 'address-taken', 'is held by'),
        ('error_check_not_found', {'current_ip': '10.77.150.70'}, False, ['setup-check-not-found'],
         True, False, 'not-found', 'not run', 'not-found', 'No adaptor 00-80-a3-15-00-09 answers at 10.77.150.70'),
        ('error_check_refused_by_helper', {}, False, ['setup-check-helper-refused'],
         True, False, 'refused', 'not run', 'helper', 'an address of this host itself'),
        ('error_value_refused', {}, False, ['setup-check-refused'],
         True, None, 'refused', 'not run', 'refused', '10.77.100.0 is the network address of 10.77.100.0/24'),
        ('error_run_failed', {}, False, ['setup-check-to-assign', 'setup-failed'],
         True, False, 'to-assign', 'failed', 'no-answer', 'Setup IP Address Failed.'),
        # The address was given; only the sign did not take the test message.
        ('error_sign_test_failed', {'sign_test': True}, False, ['setup-check-to-assign', 'setup-sign-test-failed'],
         True, True, 'to-assign', 'failed', 'sign-test', '1002 - Connection refused by the remote host (SendTest)'),
    ]

    def test_outcomes(self):
        for name, extra, check, answers, failed, changed, state, result, reason, said in self.CASES:
            with self.subTest(name):
                got_failed, got, runs = run_module(adaptor, dict(ADAPTOR, **extra), answers, check)
                self.assertEqual(got_failed, failed, got)
                if changed is not None:
                    self.assertEqual(got.get('changed'), changed, got)
                self.assertEqual((got['state'], got['result'], got['reason']), (state, result, reason))
                self.assertEqual(len(runs), len(answers))
                if said:
                    self.assertIn(said, got['msg'])
                self.assertIsInstance(got['seconds'], float)
                # The dialogue's events stay in the log, not in what comes back.
                self.assertFalse(any(e.get('event') in ('dialogue', 'stage') for e in got['events']))

    # The argument vectors: catches an option lost or sent where it means
    # nothing (--sign-test or --log to the check, --check to the run), and a
    # forced run that is not sent to the address the adaptor answers at.
    # name, extra args, check mode, recorded answers, argument vectors
    ARGVS = [
        ('to_assign_sign_test_and_log', {'sign_test': True, 'log': '/var/log/a.log'}, False,
         ['setup-check-to-assign', 'setup'],
         [CHECK, RUN + ['--sign-test', '--log', '/var/log/a.log', '--json']]),
        ('current_ip_to_both', {'current_ip': '10.77.100.40'}, False, ['setup-check-to-assign', 'setup'],
         [[CLI, 'setup'] + VALUES + ['--current-ip', '10.77.100.40', '--check', '--json'],
          RUN + ['--current-ip', '10.77.100.40', '--json']]),
        ('forced_in_place_reached_at_ip', {'force': True}, False, ['setup-check-in-place', 'setup'],
         [CHECK, RUN + ['--current-ip', '10.77.100.50', '--json']]),
        ('forced_after_the_move_reached_at_ip', {'force': True, 'current_ip': '10.77.100.40'}, False,
         ['setup-check-in-place', 'setup'],
         [[CLI, 'setup'] + VALUES + ['--current-ip', '10.77.100.40', '--check', '--json'],
          RUN + ['--current-ip', '10.77.100.50', '--json']]),
        ('in_place_whatever_current_ip_says', {'current_ip': '10.77.100.40'}, False, ['setup-check-in-place'],
         [[CLI, 'setup'] + VALUES + ['--current-ip', '10.77.100.40', '--check', '--json']]),
        ('in_place_asked_only', {'sign_test': True}, False, ['setup-check-in-place'], [CHECK]),
        ('check_mode_asks_only', {'sign_test': True}, True, ['setup-check-to-assign'], [CHECK]),
        ('taken_asked_only', {}, False, ['setup-check-taken'], [CHECK]),
    ]

    def test_argument_vectors(self):
        for name, extra, check, answers, argvs in self.ARGVS:
            with self.subTest(name):
                _failed, _got, runs = run_module(adaptor, dict(ADAPTOR, **extra), answers, check)
                self.assert_runs(runs, argvs)


RUN_ARGS = dict(src='/srv/rows.csv', report='/srv/report.csv', log_dir='/srv/logs', jobs=4)


class BatchModule(Runs):
    # What the module makes of each way a batch ends; catches a failed or
    # interrupted row handed back as success, or a row that is not named.
    # name, args, check mode, recorded answer,
    # failed, changed, rows (line, mac, ip, result, reason), counts, texts in msg
    CASES = [
        ('error_row_failed', RUN_ARGS, False, 'batch', True, True,
         [(2, '00-80-a3-61-63-dd', '10.77.100.50', 'succeeded', 'assigned'),
          (3, '00-80-a3-61-63-ee', '10.77.100.60', 'failed', 'no-answer')],
         {'succeeded': 1, 'failed': 1, 'exit': 1},
         ['line 3 (00-80-a3-61-63-ee at 10.77.100.60): failed (no-answer): Setup IP Address Failed.']),
        ('error_interrupted', RUN_ARGS, False, 'batch-interrupted', True, False,
         [(2, '00-80-a3-15-00-05', '10.77.150.55', 'interrupted', 'interrupted')],
         {'interrupted': 1, 'exit': 130},
         ['line 2 (00-80-a3-15-00-05 at 10.77.150.55): interrupted (interrupted)']),
        ('ok_resumed', dict(RUN_ARGS, resume='/srv/old.csv'), False, 'batch-resumed', False, True,
         [(2, '00-80-a3-15-00-03', '10.77.150.53', 'done before', 'done-before'),
          (3, '00-80-a3-15-00-04', '10.77.150.54', 'succeeded', 'assigned')],
         {'done_before': 1, 'succeeded': 1, 'exit': 0}, []),
        ('ok_in_place_left_alone', RUN_ARGS, False, 'batch-in-place', False, False,
         [(2, '00-80-a3-15-00-01', '10.77.150.50', 'in place', 'in-place')],
         {'in_place': 1, 'exit': 0}, []),
        ('ok_check_predicts_each_row', dict(src='/srv/rows.csv'), True, 'batch-check', False, True,
         [(2, '00-80-a3-15-00-01', '10.77.150.50', None, 'in-place'),
          (3, '00-80-a3-15-00-04', '10.77.150.64', None, 'to-assign')],
         {}, []),
        ('ok_check_nothing_would_change', dict(src='/srv/rows.csv'), True, 'batch-check-in-place', False, False,
         [(2, '00-80-a3-15-00-01', '10.77.150.50', None, 'in-place')],
         {}, []),
    ]

    def test_outcomes(self):
        for name, args, check, answer, failed, changed, rows, counts, said in self.CASES:
            with self.subTest(name):
                got_failed, got, _runs = run_module(batch, args, [answer], check)
                self.assertEqual(got_failed, failed, got)
                self.assertEqual(got['changed'], changed)
                self.assertEqual([(r['line'], r['mac'], r['ip'], r.get('result'), r.get('reason'))
                                  for r in got['rows']], rows)
                self.assertEqual(dict((k, got['counts'].get(k)) for k in counts), counts)
                for text in said:
                    self.assertIn(text, got['msg'])
                # A row that did not fail is not named as failed.
                if failed:
                    for r in got['rows']:
                        if r.get('result') not in ('failed', 'interrupted'):
                            self.assertNotIn(r['mac'], got['msg'])

    # Catches --diff that lists rows already in place, or none to assign.
    def test_check_diff_lists_rows_to_assign(self):
        failed, got, _runs = run_module(batch, dict(src='/srv/rows.csv', _ansible_diff=True), ['batch-check'],
                                        check_mode=True)
        self.assertFalse(failed, got)
        self.assertEqual(got['diff'], {'prepared': 'line 3: to-assign 00-80-a3-15-00-04 -> 10.77.150.64\n'})
        self.assertEqual([r.get('name') for r in got['rows']], ['Ramp 1', 'Gate 4'])

    # Catches a failed row named without its sign: the row's name, as
    # netrika-cli's events would carry it beside the MAC (the recording has
    # none), comes back and names the row in the message.
    def test_failed_row_named_by_its_name(self):
        def named(event):
            if event.get('line') == 3 and event.get('event') in ('started', 'finished'):
                event['name'] = 'Gate 3'
            return event
        failed, got, _runs = run_module(batch, RUN_ARGS, [recorded('batch', named)])
        self.assertTrue(failed)
        self.assertEqual(got['rows'][1]['name'], 'Gate 3')
        self.assertIn('line 3 Gate 3 (00-80-a3-61-63-ee at 10.77.100.60): failed (no-answer)', got['msg'])

    # The argument vectors; catches an option lost, or --log-dir (which the
    # check does not use) given to a check.
    # name, args, check mode, argument vector
    ARGVS = [
        ('run_every_option', dict(RUN_ARGS, resume='/srv/old.csv', delimiter=';', site='depot-north'), False,
         [CLI, 'batch', '/srv/rows.csv', '--jobs', '4', '--report', '/srv/report.csv', '--delimiter', ';',
          '--site', 'depot-north', '--resume', '/srv/old.csv', '--log-dir', '/srv/logs', '--json']),
        ('run_file_only', dict(src='/srv/rows.csv'), False, [CLI, 'batch', '/srv/rows.csv', '--json']),
        ('check_with_resume_without_logs', dict(RUN_ARGS, resume='/srv/old.csv', site='depot-north'), True,
         [CLI, 'batch', '/srv/rows.csv', '--jobs', '4', '--report', '/srv/report.csv', '--site', 'depot-north',
          '--resume', '/srv/old.csv', '--check', '--json']),
        ('run_force', dict(src='/srv/rows.csv', force=True), False,
         [CLI, 'batch', '/srv/rows.csv', '--force', '--json']),
    ]

    def test_argument_vectors(self):
        for name, args, check, argv in self.ARGVS:
            with self.subTest(name):
                _failed, _got, runs = run_module(batch, args, ['batch-check' if check else 'batch'], check)
                self.assert_runs(runs, [argv])

    # The rows on standard input: as text, or as the sheet's bytes whatever
    # its encoding; catches bytes re-encoded, or a newline added to them.
    # name, args, what standard input gets
    SHEET = u'site;name;mac;ip;mask;gateway\r\nnorth;Entr\u00e9e;00-80-a3-61-63-dd;10.77.100.50;255.255.255.0;10.77.100.254\r\n'
    INPUTS = [
        ('text', dict(content='name,mac\n'), 'name,mac\n'),
        ('utf16_bytes', dict(content_base64=base64.b64encode(SHEET.encode('utf-16')).decode()), SHEET.encode('utf-16')),
        ('windows_1252_bytes', dict(content_base64=base64.b64encode(SHEET.encode('cp1252')).decode()),
         SHEET.encode('cp1252')),
    ]

    def test_standard_input(self):
        for name, args, given in self.INPUTS:
            with self.subTest(name):
                failed, got, runs = run_module(batch, dict(args, site='north'), ['batch-check'], check_mode=True)
                self.assertFalse(failed, got)
                argv, kwargs = runs[0]
                self.assertEqual(argv[:3], [CLI, 'batch', '-'])
                self.assertEqual(kwargs['data'], given)
                self.assertEqual(kwargs.get('binary_data', False), isinstance(given, bytes))

    def test_refuses_what_is_not_base64(self):
        failed, got, runs = run_module(batch, dict(content_base64='not base64!'), [], check_mode=True)
        self.assertTrue(failed)
        self.assertIn('content_base64', got['msg'])
        self.assertEqual(runs, [])


class ScanModule(Runs):
    # Catches a sweep that was interrupted or could not run handed back as
    # one that found nothing.
    # name, args, recorded answer, failed, adaptors (mac, address, family), text in msg, argument vector
    CASES = [
        ('ok_found', {}, 'scan', False, [('00-80-a3-61-63-dd', '10.77.100.50', 2)], None, [CLI, 'scan', '--json']),
        ('error_cancelled', {'range': ['10.77.150.0/24']}, 'scan-cancelled', True, [], 'interrupted',
         [CLI, 'scan', '--range', '10.77.150.0/24', '--json']),
        ('error_helper_cannot_sweep', {'interface': 'eth1', 'range': ['10.77.150.0/24', '10.77.151.0/24'],
                                       'all': True}, 'scan-error', True, [], 'lacks CAP_NET_RAW',
         [CLI, 'scan', '--interface', 'eth1', '--range', '10.77.150.0/24', '--range', '10.77.151.0/24', '--all',
          '--json']),
    ]

    def test_cases(self):
        for name, args, answer, failed, adaptors, said, argv in self.CASES:
            with self.subTest(name):
                got_failed, got, runs = run_module(scan, args, [answer], check_mode=True)
                self.assertEqual(got_failed, failed, got)
                self.assertFalse(got['changed'])
                self.assertEqual([(a['mac'], a['address'], a['family']) for a in got['adaptors']], adaptors)
                self.assertEqual(got['found'], len(adaptors))
                if said:
                    self.assertIn(said, got['msg'])
                self.assert_runs(runs, [argv])


if __name__ == '__main__':
    unittest.main()
