// Starts an independent RPC node (the JavaScript implementation) in this process: offline, with a
// fresh repository in a temporary folder and its API on a loopback port. Prints "API_PORT=<port>"
// once it answers, and stops cleanly on SIGTERM/SIGINT or when stdin closes.
//
// Usage: node launch-node.mjs [--port N] [--seed]
//   --port N  listen on N (default: a free port)
//   --seed    add a few demo files and folders (for trying the program by hand)
import { mkdtemp, rm } from 'node:fs/promises'
import { tmpdir } from 'node:os'
import { join } from 'node:path'
import net from 'node:net'

// A transitive dependency calls Promise.withResolvers, which Node 20 lacks.
if (typeof Promise.withResolvers !== 'function') {
  Promise.withResolvers = function () {
    let resolve, reject
    const promise = new Promise((res, rej) => { resolve = res; reject = rej })
    return { promise, resolve, reject }
  }
}

const { create } = await import('ipfs-core')
const { HttpApi } = await import('ipfs-http-server')

function argValue (name) {
  const at = process.argv.indexOf(name)
  return at >= 0 ? process.argv[at + 1] : undefined
}

function freePort () {
  return new Promise((resolve, reject) => {
    const server = net.createServer()
    server.unref()
    server.on('error', reject)
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address()
      server.close(() => resolve(port))
    })
  })
}

const port = Number(argValue('--port') ?? await freePort())
const repo = await mkdtemp(join(tmpdir(), 'vaxel-e2e-node-'))

const node = await create({
  offline: true,
  repo,
  silent: true,
  start: true,
  // No sample files: their version 0 CIDs cannot be printed in base32 by this node, which ignores
  // upgrade-cidv0-in-output, and every pin listing of the program would fail.
  init: { emptyRepo: true },
  config: {
    Addresses: { API: `/ip4/127.0.0.1/tcp/${port}`, Gateway: '', Swarm: [] },
    Bootstrap: [],
    Discovery: { MDNS: { Enabled: false }, webRTCStar: { Enabled: false } }
  }
})
const api = new HttpApi(node)
await api.start()

if (process.argv.includes('--seed')) {
  const text = (s) => new TextEncoder().encode(s)
  const folder = []
  for await (const entry of node.addAll([
    { path: 'demo/readme.txt', content: text('Hello from the demo node.\n') },
    { path: 'demo/notes/todo.txt', content: text('Pin everything.\n') },
    { path: 'demo/notes/ideas.md', content: text('# Ideas\n') }
  ], { wrapWithDirectory: false, cidVersion: 1 })) folder.push(entry)
  const single = await node.add(text('A single directly pinned file.\n'), { pin: false, cidVersion: 1 })
  await node.pin.add(single.cid, { recursive: false })
  await node.add(text('Stored but not pinned.\n'), { pin: false, cidVersion: 1 })
}

let stopping = false
async function stop () {
  if (stopping) return
  stopping = true
  try { await api.stop() } catch {}
  try { await node.stop() } catch {}
  await rm(repo, { recursive: true, force: true })
  process.exit(0)
}
process.on('SIGTERM', stop)
process.on('SIGINT', stop)
process.stdin.on('end', stop)
process.stdin.resume()

console.log(`API_PORT=${port}`)
