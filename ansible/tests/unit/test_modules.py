# -*- coding: utf-8 -*-
# The modules run over what netrika-cli printed: the JSON lines under
# recorded/ were written by the real program against a simulated adaptor of
# the project's (a setup, a check of each state, a batch with a silent row, a
# scan). Each case runs a module's main() with netrika-cli's runs answered
# from those files, and checks what the module hands back and the argument
# vectors it ran.
#
#   /usr/bin/python3 -m unittest discover -s ansible/tests/unit

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import atexit
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


def recorded(name):
    with open(os.path.join(RECORDED, name + '.jsonl')) as f:
        out = f.read()
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
    next recorded output. Returns (failed, result, argument vectors)."""
    if check_mode:
        args = dict(args, _ansible_check_mode=True)
    runs = []
    pending = [recorded(name) for name in answers]

    def run_command(self, argv, **kwargs):
        runs.append(argv)
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


ADAPTOR = dict(mac='0080a36163dd', ip='10.77.100.50', mask='255.255.255.0', gateway='10.77.100.254')


class AdaptorModule(unittest.TestCase):
    # name, extra args, check mode, recorded answers,
    # failed, changed, state, reason, how many runs
    CASES = [
        ('ok_assigned', {}, False, ['setup-check-to-assign', 'setup'], False, True, 'to-assign', 'assigned', 2),
        ('ok_in_place_untouched', {}, False, ['setup-check-in-place'], False, False, 'in-place', 'in-place', 1),
        ('ok_in_place_forced', {'force': True}, False, ['setup-check-in-place', 'setup'],
         False, True, 'in-place', 'assigned', 2),
        ('ok_check_would_assign', {}, True, ['setup-check-to-assign'], False, True, 'to-assign', 'to-assign', 1),
        ('ok_check_in_place', {}, True, ['setup-check-in-place'], False, False, 'in-place', 'in-place', 1),
        ('error_check_refused_by_helper', {}, False, ['setup-check-taken'], True, False, 'refused', 'helper', 1),
        ('error_value_refused', {}, False, ['setup-check-refused'], True, None, 'refused', 'refused', 1),
    ]

    def test_cases(self):
        for name, extra, check, answers, failed, changed, state, reason, runs in self.CASES:
            with self.subTest(name):
                got_failed, result, argvs = run_module(adaptor, dict(ADAPTOR, **extra), answers, check)
                self.assertEqual(got_failed, failed, result)
                if changed is not None:
                    self.assertEqual(result.get('changed'), changed, result)
                self.assertEqual(result['state'], state)
                self.assertEqual(result['reason'], reason)
                self.assertEqual(len(argvs), runs)
                # The check first, sending nothing but ARP; a run never under --check.
                self.assertEqual(argvs[0][:2], ['/usr/bin/netrika-cli', 'setup'])
                self.assertIn('--check', argvs[0])
                self.assertTrue(all('--check' not in argv for argv in argvs[1:]))
                self.assertTrue(all(argv[-1] == '--json' for argv in argvs))

    def test_assigned_returns_the_run(self):
        failed, result, argvs = run_module(adaptor, dict(ADAPTOR, sign_test=True, log='/var/log/a.log'),
                                           ['setup-check-to-assign', 'setup'])
        self.assertFalse(failed)
        self.assertEqual(result['result'], 'succeeded')
        self.assertEqual(result['status'], 'Setup IP address is successful, reboot adaptor to take effect.')
        self.assertIsInstance(result['seconds'], float)
        self.assertIn('--sign-test', argvs[1])
        self.assertEqual(argvs[1][argvs[1].index('--log') + 1], '/var/log/a.log')
        self.assertNotIn('--sign-test', argvs[0])
        # The dialogue's events stay in the log, not in what comes back.
        self.assertFalse(any(e.get('event') == 'dialogue' for e in result['events']))

    def test_refused_value_names_it(self):
        failed, result, unused_runs = run_module(adaptor, ADAPTOR, ['setup-check-refused'])
        self.assertTrue(failed)
        self.assertIn('10.77.100.0 is the network address of 10.77.100.0/24', result['msg'])


class BatchModule(unittest.TestCase):
    def test_one_row_failed(self):
        failed, result, argvs = run_module(batch, dict(src='/srv/rows.csv', report='/srv/report.csv',
                                                       log_dir='/srv/logs', jobs=4), ['batch'])
        self.assertTrue(failed)
        self.assertTrue(result['changed'])  # the other row was given its address
        self.assertEqual([(r['line'], r['mac'], r['ip'], r['result'], r['reason']) for r in result['rows']],
                         [(2, '00-80-a3-61-63-dd', '10.77.100.50', 'succeeded', 'assigned'),
                          (3, '00-80-a3-61-63-ee', '10.77.100.60', 'failed', 'no-answer')])
        self.assertTrue(all(isinstance(r['seconds'], float) for r in result['rows']))
        self.assertEqual(result['counts']['succeeded'], 1)
        self.assertEqual(result['counts']['failed'], 1)
        self.assertIn('line 3', result['msg'])
        self.assertIn('00-80-a3-61-63-ee', result['msg'])
        self.assertNotIn('00-80-a3-61-63-dd', result['msg'])
        self.assertEqual(argvs[0][:3], ['/usr/bin/netrika-cli', 'batch', '/srv/rows.csv'])
        for option, value in (('--report', '/srv/report.csv'), ('--log-dir', '/srv/logs'), ('--jobs', '4')):
            self.assertEqual(argvs[0][argvs[0].index(option) + 1], value)

    def test_check_mode_reads_rows_only(self):
        failed, result, argvs = run_module(batch, dict(src='/srv/rows.csv', resume='/srv/report.csv',
                                                       site='depot-north'),
                                           ['batch-check'], check_mode=True)
        self.assertFalse(failed, result)
        self.assertTrue(result['changed'])
        self.assertEqual([r['mac'] for r in result['rows']], ['00-80-a3-61-63-dd', '00-80-a3-61-63-ee'])
        self.assertIn('--check', argvs[0])
        self.assertNotIn('--resume', argvs[0])
        self.assertEqual(argvs[0][argvs[0].index('--site') + 1], 'depot-north')


class ScanModule(unittest.TestCase):
    def test_adaptors_found(self):
        failed, result, argvs = run_module(scan, dict(), ['scan'], check_mode=True)
        self.assertFalse(failed, result)
        self.assertFalse(result['changed'])
        self.assertEqual([(a['mac'], a['address'], a['family']) for a in result['adaptors']],
                         [('00-80-a3-61-63-dd', '10.77.100.50', 2)])
        self.assertEqual(argvs[0][:2], ['/usr/bin/netrika-cli', 'scan'])


if __name__ == '__main__':
    unittest.main()
